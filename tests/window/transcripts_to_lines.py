#!/usr/bin/env python3
"""Turns the shared page/host transcripts (JSON) into the line format the window's end-to-end
test reads: one "<key>\t<escaped text>" per line, a conversation per block ending in "end"."""
import json
import sys


def escape(text):
    return (text.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r").replace("\t", "\\t"))


def main(source, target):
    with open(source, encoding="utf-8") as f:
        data = json.load(f)
    lines = []
    for conversation in data["conversations"]:
        lines.append("conversation\t" + escape(conversation["name"]))
        lines.append("lang\t" + escape(conversation["lang"]))
        lines.append("auto\t" + ("1" if conversation.get("auto") else "0"))
        lines.append("path\t" + escape(conversation["path"]))
        for step in conversation["steps"]:
            (kind, text), = step.items()
            lines.append(kind + "\t" + escape(str(text)))
        lines.append("end\t")
    with open(target, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
