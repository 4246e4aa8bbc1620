<#
Vorlen: removes the installation in this folder, and only what the installation made.

Remove Vorlen from Settings > Apps > Installed apps, or by hand:

  powershell -ExecutionPolicy Bypass -File uninstall.ps1 [-Quiet]

The installation lists the entries it made in uninstall.txt beside this script. This removes
those entries, the folder itself only if nothing else is left in it, the Start menu and
desktop shortcuts where they start this installation, and its entry in Installed apps. What
the game or you put in the folder later (saves, settings, your own files) stays, and so do
MSYS2 and its packages. Without -Quiet it asks first.
#>
param(
    [switch]$Quiet,
    # The folder to remove, given by the first start to its copy in the temporary folder.
    [string]$Folder = ''
)

$ErrorActionPreference = 'Stop'

# Tested the way install.ps1 is (see there): run unchanged under PowerShell 7 on Linux, with
# reg.exe and powershell.exe replaced on PATH and, through the PowerShell profile,
# Shell.Application (which reads a shortcut's target), Rename-Item (a file in use) and
# Get-ItemProperty on the registry. Every path is used literally: -LiteralPath, or .NET.

function Say([string]$Message) {
    Write-Host "[Vorlen] $Message" -ForegroundColor Cyan
}

# Every end of the copy's run comes through here. Started from Installed apps, the console
# window would close with the last line unread, so a person is asked to close it.
function Done([int]$Code) {
    if ($Folder -and -not $Quiet) { $null = Read-Host 'Press Enter to close' }
    exit $Code
}

trap {
    Say "error: $($_.Exception.Message)"
    Done 1
}

function Full([string]$Path) {
    $ExecutionContext.SessionState.Path.GetUnresolvedProviderPathFromPSPath($Path)
}

# A path to compare with another: full, one kind of separator, no closing separator.
function Plain([string]$Path) {
    (Full $Path).Replace('/', '\').TrimEnd('\')
}

function Quote([string]$Text) {
    if ($Text -and $Text -notmatch '[\s"]') { return $Text }
    '"' + ($Text -replace '(\\*)"', '$1$1\"' -replace '(\\+)$', '$1$1') + '"'
}

# Runs a program by its path and returns its exit code. With -Quiet its output is dropped.
function Run([string]$Program, [string[]]$Arguments, [switch]$Quiet) {
    $start = New-Object System.Diagnostics.ProcessStartInfo
    $start.FileName = $Program
    $start.Arguments = @($Arguments | ForEach-Object { Quote $_ }) -join ' '
    $start.UseShellExecute = $false
    $start.RedirectStandardOutput = [bool]$Quiet
    $start.RedirectStandardError = [bool]$Quiet
    $process = [System.Diagnostics.Process]::Start($start)
    if ($Quiet) {
        $out = $process.StandardOutput.ReadToEndAsync()
        $err = $process.StandardError.ReadToEndAsync()
    }
    $process.WaitForExit()
    $process.ExitCode
}

# Programs by their full paths in the system folder: named alone, they would be looked for in
# the current folder first. Elsewhere than on Windows .NET has no system folder.
$system = [Environment]::SystemDirectory
$powershell = [IO.Path]::Combine($system, 'WindowsPowerShell\v1.0\powershell.exe')
$reg = [IO.Path]::Combine($system, 'reg.exe')
$key = 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorlen'

# 1. The first start, from the install folder: the work is done by a copy in the temporary
# folder, which holds nothing of the installation open, so that its folder can go too.
if (-not $Folder) {
    $temp = Full $env:TEMP
    $copy = Full "$temp\vorlen-uninstall-$([guid]::NewGuid().ToString('N').Substring(0, 8)).ps1"
    [IO.File]::Copy((Full $PSCommandPath), $copy, $true)
    # A process's current folder cannot be removed.
    Set-Location -LiteralPath $temp
    [Environment]::CurrentDirectory = $temp
    $arguments = @('-NoProfile', '-ExecutionPolicy', 'Bypass', '-File', $copy, '-Folder', $PSScriptRoot)
    if ($Quiet) { $arguments += '-Quiet' }
    $code = Run $powershell $arguments
    try { [IO.File]::Delete($copy) } catch { }
    exit $code
}

# 2. What may be removed. Whatever the entry in Installed apps says, nothing is removed from
# a drive's root, from the profile or from a folder of Windows or of the profile, nor from a
# folder that holds one of those, nor from a folder without the installation's record.
$full = Full $Folder
$here = Plain $full
$record = [IO.Path]::Combine($full, 'uninstall.txt')
if ($here -eq ([IO.Path]::GetPathRoot($full)).Replace('/', '\').TrimEnd('\')) {
    Say "nothing was removed: $full is the root of a drive"
    Done 1
}
$known = @('UserProfile', 'Desktop', 'DesktopDirectory', 'MyDocuments', 'MyPictures', 'MyMusic', 'MyVideos',
    'Favorites', 'ApplicationData', 'LocalApplicationData', 'CommonApplicationData', 'Programs', 'StartMenu',
    'Startup', 'Templates', 'ProgramFiles', 'ProgramFilesX86', 'Windows', 'System') |
    ForEach-Object { [Environment]::GetFolderPath($_) }
$known += @($env:USERPROFILE, $env:ProgramW6432, $env:SystemRoot)
if ($env:USERPROFILE) { $known += "$env:USERPROFILE\Downloads" }
foreach ($path in $known) {
    if (-not $path) { continue }
    $plain = Plain $path
    if ($plain -eq $here -or $plain.StartsWith("$here\", [StringComparison]::OrdinalIgnoreCase)) {
        Say "nothing was removed: $full is, or holds, a folder of Windows or of your profile ($path)"
        Done 1
    }
}
if (-not [IO.File]::Exists($record)) {
    Say "nothing was removed: $full holds no record of a Vorlen installation (uninstall.txt)"
    Done 1
}

# The names of a folder's entries, in order.
function Names([string]$Path) {
    @([IO.Directory]::GetFileSystemEntries($Path) | ForEach-Object { [IO.Path]::GetFileName($_) } | Sort-Object)
}

# The record: "made NAME" for each top-level entry that the installation made, "msys ROOT"
# for the MSYS2 it used. A name is one entry of this folder, never a path.
$made = @()
$msys = ''
foreach ($line in [IO.File]::ReadAllLines($record, [Text.Encoding]::UTF8)) {
    if ($line.StartsWith('made ')) {
        $name = $line.Substring(5)
        if ($name -and $name -ne '.' -and $name -ne '..' -and $name -notmatch '[\\/:*?"<>|\x00-\x1f]') { $made += $name }
    } elseif ($line.StartsWith('msys ')) {
        $msys = $line.Substring(5)
    }
}
# Itself and its record go last, once everything else has gone.
$own = @('uninstall.ps1', 'uninstall.txt')
$ours = @()
$theirs = @()
foreach ($name in (Names $full)) {
    if ($own -contains $name) { continue }
    if ($made -contains $name) { $ours += $name } else { $theirs += $name }
}

function Left-Line {
    $left = @(Names $full)
    if ($left.Count) { "left in ${full}: $($left -join ', ')" } else { "left in ${full}: nothing" }
}

if (-not $Quiet) {
    $what = if ($ours.Count) { $ours -join ', ' } else { 'its own files' }
    Say "This removes Vorlen from ${full}: $what, the uninstaller, and the shortcuts that start it."
    if ($theirs.Count) { Say "It keeps everything else in that folder: $($theirs -join ', ')." }
    Say 'It keeps MSYS2 and its packages.'
    $answer = Read-Host 'Remove Vorlen? [y/N]'
    if ($answer -notlike 'y*') {
        Say 'nothing was removed'
        Done 1
    }
}

# 3. The installation's entries, each first renamed aside: a file in use fails there, before
# anything is removed, and what was renamed is put back.
function Set-Aside {
    $script:aside = @()
    foreach ($name in $ours) {
        $other = "$name.removing-$([guid]::NewGuid().ToString('N').Substring(0, 8))"
        try {
            Rename-Item -LiteralPath ([IO.Path]::Combine($full, $name)) -NewName $other
        } catch {
            [array]::Reverse($script:aside)
            foreach ($pair in $script:aside) { Put-Back $pair }
            $script:aside = @()
            return $name
        }
        $script:aside += , @($name, $other)
    }
    ''
}

function Put-Back($Pair) {
    $from = [IO.Path]::Combine($full, $Pair[1])
    $to = [IO.Path]::Combine($full, $Pair[0])
    try {
        if ([IO.Directory]::Exists($from)) { [IO.Directory]::Move($from, $to) } else { [IO.File]::Move($from, $to) }
    } catch { }
}

# Removes a file or a folder with all it holds. A link (a junction, a symbolic link) goes by
# itself, never what it points at: Windows PowerShell's Remove-Item -Recurse would follow a
# junction and empty its target. A read-only file (as git makes them) goes too.
function Remove-Tree([string]$Path) {
    $attributes = [IO.File]::GetAttributes($Path)
    if ($attributes -band [IO.FileAttributes]::Directory) {
        if (-not ($attributes -band [IO.FileAttributes]::ReparsePoint)) {
            foreach ($child in [IO.Directory]::GetFileSystemEntries($Path)) { Remove-Tree $child }
        }
        [IO.Directory]::Delete($Path, $false)
    } else {
        if ($attributes -band [IO.FileAttributes]::ReadOnly) {
            [IO.File]::SetAttributes($Path, $attributes -band -bnot [IO.FileAttributes]::ReadOnly)
        }
        [IO.File]::Delete($Path)
    }
}

# A program of the installation that runs (the game): Windows lets a folder that holds a
# running program be renamed, and refuses only to delete the program itself, at the end.
function Running {
    foreach ($process in @(Get-Process -ErrorAction SilentlyContinue)) {
        $path = ''
        try { $path = $process.Path } catch { }
        if ($path -and (Plain $path).StartsWith("$here\", [StringComparison]::OrdinalIgnoreCase)) {
            return (Plain $path).Substring($here.Length + 1)
        }
    }
    ''
}

$tries = 1
while ($true) {
    $busy = Running
    if (-not $busy) { $busy = Set-Aside }
    if (-not $busy) { break }
    if ($tries -gt 3) {
        Say "error: $busy in $full is still in use, so nothing was removed; close the game, then uninstall Vorlen again"
        Done 1
    }
    if ($Quiet) {
        Say "$busy in $full is in use; close the game. Trying again in a few seconds."
        Start-Sleep -Seconds 2
    } else {
        Say "$busy in $full is in use; close the game."
        $null = Read-Host 'Press Enter to try again'
    }
    $tries++
}

$failed = @()
foreach ($pair in $aside) {
    try {
        Remove-Tree ([IO.Path]::Combine($full, $pair[1]))
    } catch {
        Put-Back $pair
        $failed += "$($pair[0]) ($($_.Exception.Message))"
    }
}
if ($failed.Count) {
    Say "error: could not remove $($failed -join '; '); uninstall Vorlen again once nothing uses them"
    Say (Left-Line)
    Done 1
}

# 4. The shortcuts, only where they start this installation's runner: a later installation
# elsewhere has its own in the same places.
$runner = Plain ([IO.Path]::Combine($full, 'vorlen.cmd'))
$shell = New-Object -ComObject Shell.Application
$kept = @()
foreach ($place in @([Environment]::GetFolderPath('Programs'), [Environment]::GetFolderPath('Desktop'))) {
    if (-not $place) { continue }
    $link = "$place\Vorlen.lnk"
    if (-not [IO.File]::Exists($link)) { continue }
    try {
        $target = $shell.NameSpace($place).ParseName('Vorlen.lnk').GetLink.Path
        if ($target -and (Plain $target) -eq $runner) { [IO.File]::Delete($link) }
    } catch {
        $kept += "$link ($($_.Exception.Message))"
    }
}

# 5. Itself, its record and the folder, if nothing else is left in it.
foreach ($name in $own) {
    try { [IO.File]::Delete([IO.Path]::Combine($full, $name)) } catch { $kept += "$name ($($_.Exception.Message))" }
}
$gone = $false
if (-not @([IO.Directory]::GetFileSystemEntries($full)).Count) {
    try { [IO.Directory]::Delete($full, $false); $gone = $true } catch { }
}

# 6. The entry in Installed apps, last: while anything of the installation stays, so does the
# way to remove it. Only this installation's entry: another may have replaced it since.
$entry = $null
try {
    $entry = Get-ItemProperty -LiteralPath "Registry::$($key.Replace('HKCU\', 'HKEY_CURRENT_USER\'))" -ErrorAction Stop
} catch { }
if (-not $kept.Count -and $entry -and $entry.InstallLocation -and (Plain $entry.InstallLocation) -eq $here) {
    $code = Run $reg @('delete', $key, '/f') -Quiet
    if ($code -ne 0) { $kept += "its entry in Installed apps (reg.exe $code)" }
}

if ($kept.Count) {
    Say "error: could not remove $($kept -join '; ')"
} else {
    Say 'Vorlen is removed.'
}
$where = if ($msys) { " in $msys" } else { '' }
Say "MSYS2$where and its packages stay, for other programs that use them; to remove MSYS2 as well, uninstall it in Settings > Apps > Installed apps."
if ($gone) { Say "left: nothing; $full is removed" } else { Say (Left-Line) }
if ($kept.Count) { Done 1 }
Done 0
