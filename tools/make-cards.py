#!/usr/bin/env python3
"""Draws three scenes (a lake landscape, a portrait, a still life) with ImageMagick and turns them
into the twelve preview cards of the installer page's wall, one filter effect per card.

Each card is 280 x 350 lossy WebP (twice its 132 x 165 display size), without deblocking filter.
The scenes are drawn at 560 x 700 so that effects which work on fine detail (halftone, sketch)
have room, then reduced.
Everything is seeded, so a rerun gives the same pictures on the same ImageMagick.
Needs `convert` (imagemagick) and `cwebp` (webp). Writes ui/assets/cards/card-01.webp ... card-12.webp.
"""
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
OUT = ROOT / "ui" / "assets" / "cards"
W, H = 560, 700
# Lossy quality, and no in-loop deblocking filter (-f 0): at twice the display size the blocks
# do not show, and each card decodes about a quarter faster, twelve of them before the page's
# first finished frame. The film grain keeps a higher quality, since the grain is its effect.
# The cards of fine texture all over (the halftone's dots, the sketch's paper, the neon edges'
# dark grain) cost the most bytes of the document at 50, and their texture hides what a lower
# quality loses; the smooth cards would show blocks there, and gain little.
QUALITY = 50
QUALITY_OF = {"film grain": 72, "halftone": 20, "sketch": 20, "neon edges": 30}


def im(*args: str) -> None:
    subprocess.run(["convert", *args], check=True)


def layer(*draw: str) -> list[str]:
    """A transparent full-size layer with the given drawing settings and primitives."""
    return ["(", "-size", f"{W}x{H}", "xc:none", *draw, ")", "-composite"]


def sphere(x: int, y: int, r: int, colour: str, light: str) -> list[str]:
    """A fruit: a disc with a soft highlight towards the upper left, kept inside the disc."""
    hx, hy = x - r // 3, y - r // 3
    return ["(", "-size", f"{W}x{H}", "xc:none", "-fill", colour, "-draw", f"circle {x},{y} {x},{y - r}",
            "(", "-size", f"{W}x{H}", "xc:none", "-fill", light, "-draw", f"circle {hx},{hy} {hx},{hy - r // 3}",
            "-blur", f"0x{r // 4}", ")", "-compose", "atop", "-composite", "-compose", "over", ")", "-composite"]


def landscape(work: Path) -> Path:
    sky, lake, out = work / "sky.png", work / "lake.png", work / "landscape.png"
    im("-size", f"{W}x430", "gradient:#243b63-#f2a65a",
       "(", "-size", f"{W}x430", "xc:none", "-fill", "#ffd58a", "-draw", "circle 380,190 380,90",
       "-channel", "A", "-evaluate", "multiply", "0.45", "+channel", "-blur", "0x30", ")", "-composite",
       "(", "-size", f"{W}x430", "xc:none", "-fill", "#fff1c1", "-draw", "circle 380,190 380,148", "-blur", "0x2", ")", "-composite",
       "(", "-size", f"{W}x430", "xc:none", "-fill", "#7a5c8a",
       "-draw", "polygon 0,330 70,250 140,300 230,200 320,290 400,240 480,300 560,230 560,430 0,430", ")", "-composite",
       "(", "-size", f"{W}x430", "xc:none", "-fill", "#3e4f78",
       "-draw", "polygon 0,360 90,300 170,350 260,280 350,360 440,320 560,370 560,430 0,430", ")", "-composite",
       "(", "-size", f"{W}x430", "xc:none", "-fill", "#1d2740",
       "-draw", "polygon 0,400 120,370 260,405 380,385 560,410 560,430 0,430", ")", "-composite",
       str(sky))
    # The lake mirrors sky and hills, darker and smeared sideways like moving water.
    im(str(sky), "-flip", "-crop", f"{W}x270+0+0", "+repage", "-fill", "#0f1c30", "-colorize", "40%",
       "-motion-blur", "0x14+0", str(lake))
    im("-size", f"{W}x{H}", "xc:black", str(sky), "-geometry", "+0+0", "-composite",
       str(lake), "-geometry", "+0+430", "-composite",
       *layer("-stroke", "#ffe0a0", "-strokewidth", "2", "-draw", "line 330,460 430,460",
              "-draw", "line 345,490 415,490", "-draw", "line 355,525 405,525", "-draw", "line 365,565 395,565",
              "-blur", "0x1", "+stroke"),
       *layer("+stroke", "-fill", "#0b1410", "-draw", "polygon 40,560 70,420 100,560",
              "-draw", "polygon 20,600 62,460 104,600", "-draw", "polygon 90,590 120,470 150,590",
              "-draw", "polygon 470,580 500,440 530,580", "-draw", "polygon 450,620 498,480 546,620",
              "-draw", "rectangle 0,600 560,700",
              "-fill", "#16261c", "-draw", "polygon 0,640 200,610 380,630 560,600 560,700 0,700"),
       "-seed", "7", "-attenuate", "0.25", "+noise", "Gaussian", str(out))
    return out


def portrait(work: Path) -> Path:
    out = work / "portrait.png"
    im("-size", f"{W}x{H}", "radial-gradient:#5f8f8b-#1e3434",
       *layer("-fill", "#00000080", "-draw", "ellipse 290,690 230,120 0,360", "-blur", "0x20"),
       *layer("-fill", "#8c3b2e", "-draw", "ellipse 280,720 220,170 180,360",
              "-fill", "#6f2c22", "-draw", "polygon 240,560 280,660 320,560"),
       *layer("-fill", "#c98f6e", "-draw", "rectangle 245,440 315,580",
              "-fill", "#a8735a", "-draw", "ellipse 280,470 36,20 0,180"),
       *layer("-fill", "#3a2418", "-draw", "ellipse 280,320 135,165 0,360",
              "-draw", "roundrectangle 150,300 410,530 60,60"),
       *layer("-fill", "#e2a985", "-draw", "ellipse 280,350 98,128 0,360"),
       *layer("-fill", "#c98b6b80", "-draw", "ellipse 230,360 40,90 0,360", "-blur", "0x18"),
       *layer("-fill", "#f3c7a6a0", "-draw", "ellipse 310,330 40,70 0,360", "-blur", "0x18"),
       *layer("-fill", "#3a2418", "-draw", "ellipse 280,240 112,62 180,360", "-draw", "ellipse 215,250 50,40 180,360"),
       *layer("-fill", "#ffffff", "-draw", "ellipse 242,342 17,8 0,360", "-draw", "ellipse 318,342 17,8 0,360",
              "-fill", "#3b2a20", "-draw", "circle 244,342 244,348", "-draw", "circle 320,342 320,348",
              "-stroke", "#3a2418", "-strokewidth", "6", "-fill", "none",
              "-draw", "arc 220,312 266,330 200,340", "-draw", "arc 296,312 342,330 200,340", "+stroke",
              "-stroke", "#b07a5c", "-strokewidth", "4",
              "-draw", "line 282,350 274,398", "-draw", "line 274,398 290,402", "+stroke",
              "-fill", "#a84a4a", "-draw", "ellipse 281,432 26,9 0,360"),
       *layer("-fill", "#e6c35c", "-draw", "circle 182,400 182,411", "-draw", "circle 378,400 378,411"),
       "-blur", "0x1.2", "-seed", "11", "-attenuate", "0.2", "+noise", "Gaussian", str(out))
    return out


def still_life(work: Path) -> Path:
    table, out = work / "table.png", work / "still.png"
    # A wooden table top: streaky noise smeared along the grain.
    im("-size", f"{W}x260", "gradient:#8a5a34-#4a2e1a", "-seed", "3", "-attenuate", "0.6",
       "+noise", "Multiplicative", "-motion-blur", "0x30+0", str(table))
    im("-size", f"{W}x{H}", "gradient:#6b5a4a-#2b231d",
       *layer("-fill", "#fff2d0", "-draw", "polygon 380,0 560,0 560,260 420,300",
              "-channel", "A", "-evaluate", "multiply", "0.25", "+channel", "-blur", "0x30"),
       str(table), "-geometry", "+0+440", "-composite",
       *layer("-fill", "#00000090", "-draw", "ellipse 200,600 110,22 0,360",
              "-draw", "ellipse 400,610 140,20 0,360", "-blur", "0x10"),
       *layer("-fill", "#2e5e8a", "-draw", "ellipse 200,480 92,120 0,360", "-draw", "rectangle 168,250 232,400",
              "-draw", "ellipse 200,250 44,12 0,360", "-fill", "#4f86b8", "-draw", "ellipse 170,460 24,70 0,360",
              "-fill", "#1b3c5c", "-draw", "ellipse 200,250 32,7 0,360"),
       *layer("-stroke", "#4c6b2f", "-strokewidth", "5", "-draw", "line 200,250 150,120",
              "-draw", "line 200,250 245,100", "-draw", "line 200,250 200,150", "+stroke",
              "-fill", "#e8d44d", "-draw", "circle 150,120 150,92", "-fill", "#f2f2ee", "-draw", "circle 245,100 245,70",
              "-fill", "#e07a5f", "-draw", "circle 200,150 200,128",
              "-fill", "#7a5a1a", "-draw", "circle 150,120 150,110", "-draw", "circle 245,100 245,90",
              "-draw", "circle 200,150 200,142"),
       *sphere(350, 560, 55, "#c0392b", "#ffb3a7"),
       *sphere(455, 570, 45, "#e67e22", "#ffd8a8"),
       *sphere(400, 500, 42, "#8fb339", "#e8f5b0"),
       "-seed", "5", "-attenuate", "0.2", "+noise", "Gaussian", str(out))
    return out


# One filter effect per card: ImageMagick operators applied to the 560 x 700 scene before the
# reduction to 280 x 350. The wall shows them in this order, three to a row.
EFFECTS = [
    ("landscape", "duotone", ["-colorspace", "gray", "(", "-size", "1x256", "gradient:#1b1446-#ffcf6e", ")", "-clut"]),
    ("portrait", "halftone", ["-colorspace", "gray", "-ordered-dither", "h8x8o", "-colorspace", "sRGB", "+level-colors", "#3a1020,#f6dcc8"]),
    ("still", "posterize", ["-posterize", "4", "-modulate", "100,140"]),
    ("portrait", "glitch", ["-channel", "R", "-roll", "+14+0", "-channel", "B", "-roll", "-10+0", "+channel",
                            "-region", "560x40+0+230", "-roll", "+36+0", "+region",
                            "-region", "560x22+0+420", "-roll", "-28+0", "+region"]),
    ("still", "film grain", ["-sepia-tone", "70%", "-seed", "21", "-attenuate", "1.3", "+noise", "Gaussian",
                             "-background", "black", "-vignette", "0x80"]),
    ("landscape", "infrared", ["-separate", "-swap", "0,2", "-combine", "-modulate", "110,130,60"]),
    ("still", "sketch", ["-colorspace", "gray", "-charcoal", "2", "-level", "25%,100%"]),
    ("landscape", "pixelate", ["-scale", "6.25%", "-scale", "1600%"]),
    ("portrait", "oil paint", ["-paint", "5", "-modulate", "105,125"]),
    ("portrait", "neon edges", ["-colorspace", "gray", "-blur", "0x1.5", "-edge", "2", "-level", "0%,35%",
                                "-colorspace", "sRGB", "+level-colors", "#0b1a14,#a7f175"]),
    ("landscape", "solarize", ["-solarize", "55%", "-modulate", "100,160"]),
    ("still", "cross process", ["-channel", "R", "-sigmoidal-contrast", "5,50%", "-channel", "B", "-evaluate",
                                "multiply", "0.7", "-evaluate", "add", "12%", "+channel"]),
]


def main() -> None:
    OUT.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        work = Path(tmp)
        scenes = {"landscape": landscape(work), "portrait": portrait(work), "still": still_life(work)}
        total = 0
        for index, (scene, name, ops) in enumerate(EFFECTS, start=1):
            png = work / f"card-{index:02}.png"
            card = OUT / f"card-{index:02}.webp"
            im(str(scenes[scene]), *ops, "-resize", "280x350!", "-strip", f"PNG24:{png}")
            quality = QUALITY_OF.get(name, QUALITY)
            subprocess.run(["cwebp", "-quiet", "-q", str(quality), "-f", "0", "-m", "6", "-metadata", "none",
                            str(png), "-o", str(card)], check=True)
            total += card.stat().st_size
            print(f"{card.relative_to(ROOT)}: {name}, {card.stat().st_size} bytes")
        print(f"twelve cards, {total} bytes")


if __name__ == "__main__":
    sys.exit(main())
