<#
Runs the Windows test programs that the Linux build made natively on this machine, then the
window smoke test against this machine's own WebView2 runtime. The Windows CI job runs it on the
downloaded programs; it works by hand on any Windows x64 machine (PowerShell 5.1 or 7).

  run-on-windows.ps1 -Build <folder> [-Out <folder>] [-Only <name pattern>]

The build folder holds Lumivane-Setup.exe, windows-tests.txt and the tests\ folders, as the
Linux build's build/windows does. The GoogleTest reports, the smoke test's picture of the window
and its output go to -Out; its start times (WebView2's start, the page's install) also go to the
job's summary when run in GitHub Actions. Exit code 0 when every program passed.
#>
param(
    [Parameter(Mandatory = $true)][string]$Build,
    [string]$Out = 'windows-results',
    [string]$Only = '*',
    [int]$TimeoutSeconds = 900
)
$ErrorActionPreference = 'Stop'
$Build = (Resolve-Path $Build).Path
New-Item -ItemType Directory -Force -Path $Out | Out-Null
$Out = (Resolve-Path $Out).Path

# The programs find the setup here; none of the setup's own variables may leak in.
$env:LUMIVANE_SETUP_EXE = Join-Path $Build 'Lumivane-Setup.exe'
foreach ($name in 'ORVELLE_SETUP_QUIET', 'ORVELLE_SETUP_DIR', 'ORVELLE_SETUP_AUTO', 'ORVELLE_SETUP_APP', 'ORVELLE_DEVTOOLS') {
    Remove-Item "Env:$name" -ErrorAction SilentlyContinue
}

# Which WebView2 runtime the smoke test will meet, for the log (the updater's version value).
$stable = '{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}'
$versions = foreach ($key in "HKLM:\SOFTWARE\WOW6432Node\Microsoft\EdgeUpdate\Clients\$stable",
                             "HKCU:\Software\Microsoft\EdgeUpdate\Clients\$stable") {
    (Get-ItemProperty -Path $key -Name pv -ErrorAction SilentlyContinue).pv
}
if ($versions) { Write-Host "WebView2 runtime: $($versions -join ', ')" } else { Write-Host 'WebView2 runtime: none registered' }

# Whether the programs run elevated. Then the placement test's
# LockSerialisesTheSameUsersElevatedAndUnelevatedRuns also starts the setup with an unelevated
# token of the same user beside an elevated one on one folder lock (GitHub's runners run
# elevated); a second session of the same user cannot be had here.
$identity = [Security.Principal.WindowsIdentity]::GetCurrent()
$elevated = ([Security.Principal.WindowsPrincipal]$identity).IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)
Write-Host "Elevated: $elevated"
if ($env:GITHUB_STEP_SUMMARY) {
    Add-Content -Path $env:GITHUB_STEP_SUMMARY -Value "Test programs run elevated: $elevated (the folder lock's elevated and unelevated runs side by side only when True)"
}

# Runs one program with a time limit against hangs; true when it exited with 0. With -Log, its
# output goes to that file first and is shown once it has ended.
function Invoke-TestProgram([string]$Name, [string]$Program, [string]$Arguments, [string]$Log = '') {
    Write-Host "==== $Name"
    $redirect = @{}
    if ($Log) { $redirect['RedirectStandardOutput'] = $Log }
    $process = Start-Process -FilePath $Program -ArgumentList $Arguments -NoNewWindow -PassThru @redirect
    $null = $process.Handle  # keeps the exit code readable once the process has ended
    $finished = $process.WaitForExit($TimeoutSeconds * 1000)
    if (-not $finished) { $process.Kill() }
    if ($Log -and (Test-Path $Log)) { Get-Content $Log | Write-Host }
    if (-not $finished) {
        Write-Host "==== ${Name}: still running after $TimeoutSeconds s, ended"
        return $false
    }
    Write-Host "==== ${Name}: exit code $($process.ExitCode)"
    return ($process.ExitCode -eq 0)
}

# The smoke test's TIME lines (how long the WebView2 runtime took to start, and the page to
# install) into the job's summary, so that the setup's start limit can be judged against them.
function Write-StartTimes([string]$Name, [string]$Log) {
    if (-not (Test-Path $Log)) { return }
    $times = @(Select-String -Path $Log -Pattern '^TIME ' | ForEach-Object { $_.Line.Substring(5) })
    if ($times.Count -eq 0) { return }
    Write-Host "WebView2 start on this machine ($Name):"
    $times | ForEach-Object { Write-Host "  $_" }
    if ($env:GITHUB_STEP_SUMMARY) {
        Add-Content -Path $env:GITHUB_STEP_SUMMARY -Value "### WebView2 start on this runner ($Name)"
        $times | ForEach-Object { Add-Content -Path $env:GITHUB_STEP_SUMMARY -Value "- $_" }
    }
}

# One line per program: kind, name, program and its helpers' folder (relative, with slashes).
$passed = 0
$failed = @()
foreach ($line in Get-Content (Join-Path $Build 'windows-tests.txt')) {
    if (-not $line.Trim()) { continue }
    $kind, $name, $program, $folder = $line -split "`t"
    if ($name -notlike $Only) { continue }
    $env:LUMIVANE_TEST_BIN = Join-Path $Build ($folder -replace '/', '\')
    $exe = Join-Path $Build ($program -replace '/', '\')
    $log = ''
    if ($kind -eq 'smoke') {
        $arguments = "--picture `"$(Join-Path $Out "$name.bmp")`""
        $log = Join-Path $Out "$name.txt"
    } else {
        $arguments = "--gtest_output=xml:`"$(Join-Path $Out "$name.xml")`""
    }
    if (Invoke-TestProgram $name $exe $arguments $log) { $passed++ } else { $failed += $name }
    if ($log) { Write-StartTimes $name $log }
}

Write-Host "$passed passed, $($failed.Count) failed"
if ($failed.Count -gt 0) {
    Write-Host "failed: $($failed -join ', ')"
    exit 1
}
if ($passed -eq 0) {
    Write-Host "no program matched '$Only'"
    exit 1
}
exit 0
