<#
Vorlen: builds the native PC port of the game from your own dump and installs it.

The easy way is to double-click install.cmd in the source tree. By hand:

  powershell -ExecutionPolicy Bypass -File install.ps1 [-Nup C:\path\game.nup] [-Dir C:\Games\Vorlen] [-Dlss]

-Dlss adds NVIDIA DLSS. Its SDK is downloaded from NVIDIA's own repository during
the installation, and giving -Dlss means that you accept NVIDIA's RTX SDKs licence.
Without -Dlss an installation keeps the choice it was made with.

The script sets up MSYS2 (CLANG64) with the build tools and libraries, asks for your
own dump of the game and for the folder to install into (default
%LOCALAPPDATA%\vorlen), builds the game there and creates Start menu and desktop
shortcuts. The shortcut checks GitHub for a newer version on every start and
rebuilds automatically, unless VORLEN_PORT_NO_UPDATE is set to 1.
#>
param(
    [string]$Nup = '',
    [string]$Dir = '',
    [string]$Msys = 'C:\msys64',
    [string]$Repo = 'vorlen-port/vorlen',
    [switch]$Dlss
)

$ErrorActionPreference = 'Stop'
$ProgressPreference = 'SilentlyContinue'

# This one file is what the installer writes out and runs, and what people run by hand,
# so it has no test hooks of its own. The test suite runs it unchanged under PowerShell 7
# on Linux and replaces only the outside world, through what the script already reads:
# - the MSYS2 root (-Msys) holding stand-in usr\bin\bash.exe and clang64\bin\python.exe;
# - PATH, for winget, for icacls.exe (.NET has no system folder there), and for the program
#   that opens the runner when the game is started (xdg-open on Linux);
# - TEMP, LOCALAPPDATA, PROCESSOR_ARCHITECTURE and PROCESSOR_ARCHITEW6432;
# - a PowerShell profile that stands in for Add-Type and New-Object (the Windows Forms
#   dialogs, Shell.Application and the WebClient that downloads).
# So keep calling those commands by their plain names, make dialogs, COM objects and the
# WebClient with New-Object, compare a dialog's result with the text 'OK' (the doubles have
# no Forms types), and test the processor variables for the 64-bit check.
#
# Every path is used literally, also where Windows PowerShell 5.1 reads "[" and "]" as
# wildcards (a profile folder such as "C:\Users\[clan] Sam" holds them): -LiteralPath where a
# cmdlet has it, .NET calls (given Full paths) where it has not.

$env:PYTHONUNBUFFERED = '1'
# Python writes to a pipe in the ANSI code page and stops at a character that page lacks;
# in UTF-8 the launcher can print any path, and the installer reads it as such.
$env:PYTHONIOENCODING = 'utf-8'

function Say([string]$Message) {
    Write-Host "[Vorlen] $Message" -ForegroundColor Cyan
}

# Where an administrator has locked PowerShell down (Constrained Language Mode), the first
# .NET call below would fail with an error that tells a player nothing. Up to here the
# script uses only what that mode allows.
if ($ExecutionContext.SessionState.LanguageMode -ne 'FullLanguage') {
    Say 'error: this PC lets PowerShell run scripts only in a restricted mode, set by its administrator, and the installation cannot run in it; ask the administrator, or install on another PC'
    exit 1
}

# What the script downloads to the temporary folder; Quit removes it.
$setup = ''
$download = ''

# Removes the downloads; with -KeepSource the source folder stays, for a look at a failed build.
# A file still in use stays; the next download clears old source folders.
function Tidy([switch]$KeepSource) {
    try { if ($setup) { [IO.File]::Delete($setup) } } catch { }
    try {
        if ($download -and -not $KeepSource -and [IO.Directory]::Exists($download)) { [IO.Directory]::Delete($download, $true) }
    } catch { }
}

# Every end of the script comes through here.
function Quit([int]$Code, [switch]$KeepSource) {
    Tidy -KeepSource:$KeepSource
    exit $Code
}

# An error's message on one line, without the wrapper that a catch block sees around a .NET
# exception ('Exception calling "DownloadFile" with "2" argument(s): ...').
function Reason($Record) {
    $e = $Record.Exception
    while ($e -is [System.Management.Automation.MethodInvocationException] -and $e.InnerException) { $e = $e.InnerException }
    ($e.Message -replace '\s*[\r\n]+\s*', ' ').Trim()
}

# Any error that nothing else handles ends the script with one line that the installer shows
# as the reason, rather than PowerShell's own error record of several lines.
trap {
    Say "error: $(Reason $_)"
    Quit 1
}

# A path as a full path of the file system, for .NET calls: taken as it is (no wildcards) and
# made absolute from PowerShell's own current folder, not the process's.
function Full([string]$Path) {
    $ExecutionContext.SessionState.Path.GetUnresolvedProviderPathFromPSPath($Path)
}

function Step([string]$Key) {
    Write-Host "@step $Key"
}

# One argument as Windows programs split a command line: in double quotes when it holds
# spaces or quotes, backslashes doubled where they come before a quote.
function Quote([string]$Text) {
    if ($Text -and $Text -notmatch '[\s"]') { return $Text }
    '"' + ($Text -replace '(\\*)"', '$1$1\"' -replace '(\\+)$', '$1$1') + '"'
}

# Runs a program, waits for it and sets $LASTEXITCODE. The program writes into the script's
# own output (the installer's pipe, or the console), so its lines, error output included,
# stay its own text and in order; with -Quiet its output is read and dropped. With -Quiet,
# and with -Copy (which passes the standard output on byte for byte, as the program wrote
# it, and keeps a copy), the result is the program's last words, the reason of a failure.
# Started through .NET rather than "&", which in Windows PowerShell reads "[" and "]" in the
# program's path as wildcards and passes an argument ending in "\" on as an escaped quote.
function Run([string]$Program, [string[]]$Arguments, [switch]$Quiet, [switch]$Copy) {
    $start = New-Object System.Diagnostics.ProcessStartInfo
    $start.FileName = if ($Program -match '[\\/]') { Full $Program } else { $Program }
    $start.Arguments = @($Arguments | ForEach-Object { Quote $_ }) -join ' '
    $start.WorkingDirectory = $PWD.ProviderPath
    $start.UseShellExecute = $false
    $start.RedirectStandardOutput = [bool]($Quiet -or $Copy)
    $start.RedirectStandardError = [bool]$Quiet
    try {
        $process = [System.Diagnostics.Process]::Start($start)
    } catch {
        throw "could not start ${Program}: $(Reason $_)"
    }
    if ($Quiet) {
        $out = $process.StandardOutput.ReadToEndAsync()
        $err = $process.StandardError.ReadToEndAsync()
    }
    if ($Copy) {
        $to = [Console]::OpenStandardOutput()
        $kept = New-Object IO.MemoryStream
        $buffer = New-Object byte[] 4096
        while (($n = $process.StandardOutput.BaseStream.Read($buffer, 0, $buffer.Length)) -gt 0) {
            $to.Write($buffer, 0, $n)
            $to.Flush()
            $kept.Write($buffer, 0, $n)
        }
    }
    $process.WaitForExit()
    $global:LASTEXITCODE = $process.ExitCode
    # Error output last: where a program says what went wrong.
    if ($Quiet) { Last-Words ($out.Result + "`n" + $err.Result) }
    if ($Copy) { Last-Words ([Text.Encoding]::UTF8.GetString($kept.ToArray())) }
}

# The last line of a program's output that holds words: not a spinner, a progress bar (block
# characters), or a line that it wiped with spaces and carriage returns.
function Last-Words([string]$Text) {
    $lines = @($Text -split '[\r\n\x08]+' | ForEach-Object { $_.Trim() } |
            Where-Object { $_ -match '[A-Za-z]{3}' -and $_ -notmatch '[\u2588\u2592]' })
    if ($lines.Count) { $lines[-1] } else { '' }
}

# Windows PowerShell's Invoke-WebRequest reads "[" and "]" in -OutFile as wildcards.
function Download([string]$Uri, [string]$File) {
    $client = New-Object System.Net.WebClient
    $client.Headers.Add('User-Agent', 'Vorlen installer')
    # A proxy that asks who is there (HTTP 407) is answered with the signed-in account, as
    # browsers do; by default the WebClient sends it nothing and the download fails.
    if ($client.Proxy) { $client.Proxy.Credentials = [Net.CredentialCache]::DefaultNetworkCredentials }
    try {
        $client.DownloadFile($Uri, $File)
    } catch {
        throw "could not download ${Uri}: $(Reason $_)"
    } finally {
        $client.Dispose()
    }
}

# Runs a command in the MSYS2 shell; if it fails, the script ends with $Failure and the
# command's own first error as the reason. The shell keeps a copy of the output (tee passes
# the bytes on as they are; read through PowerShell they would become its text, in another
# encoding, in the installer's pipe).
function Msys([string]$Command, [string]$Failure) {
    $env:MSYSTEM = 'CLANG64'
    $env:CHERE_INVOKING = '1'
    $copy = Full "$Msys\var\log\vorlen-msys.log"
    $null = [IO.Directory]::CreateDirectory([IO.Path]::GetDirectoryName($copy))
    try { [IO.File]::Delete($copy) } catch { }
    Run "$Msys\usr\bin\bash.exe" @('-lc', "set -o pipefail; $Command 2>&1 | tee /var/log/vorlen-msys.log")
    if ($LASTEXITCODE -ne 0) {
        Say "error: MSYS2 command failed: $Command"
        $reason = First-Error $copy
        if ($reason) { Say "error: ${Failure}: $reason" } else { Say "error: $Failure; see the messages above" }
        Quit 1
    }
}

# The first error in a copy of a tool's output (UTF-8, as MSYS2's tools write), without its
# prefix: the cause, where later errors only say that something failed. pacman follows the
# language of Windows; of its translations only the German "Fehler: " is known here.
function First-Error([string]$File) {
    try { $lines = [IO.File]::ReadAllLines($File, [Text.Encoding]::UTF8) } catch { return '' }
    foreach ($line in $lines) {
        if ($line -cmatch '^(error|Fehler): *(\S.*)$') { return $Matches[2].Trim() }
    }
    ''
}

function Pick-Game {
    Add-Type -AssemblyName System.Windows.Forms
    $dialog = New-Object System.Windows.Forms.OpenFileDialog
    $dialog.Title = 'Select your dump of The Legend of Zelda: Ocarina of Time (Switch 2; update v131072 is the tested one)'
    $dialog.Filter = 'Switch 2 package (*.nup)|*.nup|All files (*.*)|*.*'
    if ($dialog.ShowDialog() -eq 'OK') { return [string]$dialog.FileName }
    return ''
}

# A path holding a character that Windows allows in no name (a ":" only after the drive
# letter) names no file, and .NET Framework refuses it with an error of its own.
function Is-Named([string]$Path) {
    $Path -notmatch '["<>|*?\x00-\x1f]|(?<!^[A-Za-z]):'
}

function Is-File([string]$Path) {
    (Is-Named $Path) -and (Test-Path -LiteralPath $Path -PathType Leaf)
}

# The install folder as a full path, or the end of the script with the reason.
function Resolve-Folder([string]$Folder) {
    # By hand, -Dir "D:\My Games\" arrives as 'D:\My Games"': the command line reads \" as a quote.
    if ($Folder.Contains('"')) {
        Say ("error: the folder $Folder holds a double quote; leave out the backslash before the closing quote: " +
            '-Dir "D:\My Games", not -Dir "D:\My Games\"')
        Quit 1
    }
    if (-not (Is-Named $Folder)) {
        Say "error: the folder $Folder holds a character that Windows allows in no name (< > | * ? or a : after the drive); choose another folder"
        Quit 1
    }
    # A drive's root is refused: the build would fill it, and the permissions below would
    # open the whole drive to every user. A bare "D:" names the root here, not PowerShell's
    # current folder on that drive. A closing separator, as in "D:\My Games\" typed by hand,
    # is dropped, so that the folder has one name in every path and message made from it.
    $isRoot = $Folder -match '^[A-Za-z]:[\\/]*$'
    if (-not $isRoot) {
        $full = Full $Folder
        $trimmed = $full.TrimEnd('\', '/')
        $isRoot = $trimmed -eq ([IO.Path]::GetPathRoot($full)).TrimEnd('\', '/')
    }
    if ($isRoot) {
        Say "cannot install into the root of a drive ($Folder); choose a folder on it"
        Quit 1
    }
    $trimmed
}

function Is-Install([string]$Folder) {
    if (-not $Folder) { return $false }
    return (Test-Path -LiteralPath "$Folder\main.img" -PathType Leaf) -or
        (Test-Path -LiteralPath "$Folder\app\vorlen.exe" -PathType Leaf)
}

# The installation's record, uninstall.txt in the install folder, says what uninstall.ps1 may
# remove: "made NAME" for each top-level entry that the installation made, "msys ROOT" for
# the MSYS2 it built with. While a run is unfinished, "unfinished" and "found NAME" for each
# entry that was there before it: what a stopped or failed run made then counts as made by
# the run that finishes. Names are compared as Windows does, ignoring case.
function Read-Record([string]$Folder) {
    $record = @{ Exists = $false; Made = @(); Found = @(); Unfinished = $false }
    $file = Full "$Folder\uninstall.txt"
    if (-not [IO.File]::Exists($file)) { return $record }
    $record.Exists = $true
    foreach ($line in [IO.File]::ReadAllLines($file, [Text.Encoding]::UTF8)) {
        if ($line.StartsWith('made ')) { $record.Made += $line.Substring(5) }
        elseif ($line.StartsWith('found ')) { $record.Found += $line.Substring(6) }
        elseif ($line -eq 'unfinished') { $record.Unfinished = $true }
    }
    $record
}

function Write-Record([string]$Folder, [string[]]$Made, [string[]]$Found, [switch]$Unfinished) {
    $lines = @('# What the Vorlen installation made in this folder: uninstall.ps1 removes these entries and nothing else.', "msys $Msys")
    $lines += @($Made | Sort-Object -Unique | ForEach-Object { "made $_" })
    if ($Unfinished) { $lines += @('unfinished') + @($Found | Sort-Object -Unique | ForEach-Object { "found $_" }) }
    [IO.File]::WriteAllLines((Full "$Folder\uninstall.txt"), [string[]]$lines, (New-Object Text.UTF8Encoding $false))
}

# The names of a folder's top-level entries; none where there is no folder.
function Entries([string]$Folder) {
    $full = Full $Folder
    if (-not [IO.Directory]::Exists($full)) { return @() }
    @([IO.Directory]::GetFileSystemEntries($full) | ForEach-Object { [IO.Path]::GetFileName($_) })
}

# 1. Platform. A 32-bit PowerShell on 64-bit Windows sees "x86" here and the machine's own
# architecture in PROCESSOR_ARCHITEW6432.
if ($env:PROCESSOR_ARCHITECTURE -eq 'x86' -and -not $env:PROCESSOR_ARCHITEW6432) {
    Say 'a 64-bit Windows is required'
    Quit 1
}

# Windows PowerShell on older Windows 10 builds offers only TLS 1.0 and 1.1 unless told
# otherwise, and the download hosts refuse those.
$tls = [Net.ServicePointManager]::SecurityProtocol
if ($tls -ne 0) { [Net.ServicePointManager]::SecurityProtocol = $tls -bor [Net.SecurityProtocolType]::Tls12 }

# A person at a console, not the installer, which starts PowerShell with -NonInteractive and
# shows none of its windows: only then may a dialog open or a question be asked. Hidden, a
# dialog would wait unseen for ever.
$byHand = [Environment]::UserInteractive -and
    -not ([Environment]::GetCommandLineArgs() | Where-Object { $_ -like '-NonI*' })

# 2. Game file and install folder, checked before the long work so that a mistake shows at
# once. Dump names carry square brackets ("[v131072]"), so every test of the path is
# literal; read as a wildcard, such a name would find no file.
if ($Nup -and -not (Is-File $Nup)) {
    if (-not $byHand) {
        Say "error: no such file: $Nup"
        Quit 1
    }
    Say "no such file: $Nup - choose the game file"
    $Nup = ''
}
if (-not $Nup) {
    if (-not $byHand) {
        Say 'error: no game file given; name it with -Nup'
        Quit 1
    }
    $Nup = Pick-Game
}
if (-not $Nup) {
    Say 'no game file selected'
    Quit 1
}
if (-not (Is-File $Nup)) {
    Say "no such file: $Nup"
    Quit 1
}
if ($Dir) { $null = Resolve-Folder $Dir }

# 3. MSYS2.
Step 'msys'
$bash = "$Msys\usr\bin\bash.exe"
if (-not (Test-Path -LiteralPath $bash -PathType Leaf)) {
    Say "installing MSYS2 (build environment) into $Msys"
    # winget's exit code says little (it fails when MSYS2 is already listed, for one);
    # what counts is whether bash.exe is there afterwards. A broken App Execution Alias is
    # found but does not start; the installer below is the way then.
    $wingetSaid = ''
    $installerSaid = ''
    # winget by the path PowerShell finds on PATH: started by its name alone, it would be looked
    # for in the current folder first (by hand, often a Downloads folder) and run from there.
    $winget = Get-Command winget -CommandType Application -ErrorAction SilentlyContinue | Select-Object -First 1
    if ($winget) {
        try {
            $wingetSaid = Run $winget.Source @('install', '--id', 'MSYS2.MSYS2', '-e', '--silent',
                '--accept-package-agreements', '--accept-source-agreements', '--location', $Msys) -Copy
        } catch {
            Say "$(Reason $_); downloading the MSYS2 installer instead"
        }
    }
    if (-not (Test-Path -LiteralPath $bash -PathType Leaf)) {
        $setup = Full "$env:TEMP\msys2-installer.exe"
        Download 'https://repo.msys2.org/distrib/msys2-x86_64-latest.exe' $setup
        $installerSaid = Run $setup @('in', '--confirm-command', '--accept-messages', '--root', ($Msys -replace '\\', '/')) -Quiet
        Tidy
    }
    if (-not (Test-Path -LiteralPath $bash -PathType Leaf)) {
        # What winget and the MSYS2 installer said last, where they said anything.
        $why = @(@("winget: $wingetSaid", "the MSYS2 installer: $installerSaid") | Where-Object { $_ -notmatch ': $' }) -join '; '
        if ($why) { $why = " ($why)" }
        Say "error: MSYS2 could not be installed$why; install it from https://www.msys2.org and run this again"
        Quit 1
    }
}
# An MSYS2 installation that was stopped half-way has bash.exe but not yet pacman. Neither
# winget nor the MSYS2 installer installs into a folder that is not empty.
if (-not (Test-Path -LiteralPath "$Msys\usr\bin\pacman.exe" -PathType Leaf)) {
    Say "MSYS2 in $Msys is incomplete, its installation was stopped; delete that folder and run this again"
    Quit 1
}

# 4. Packages. The first full update may replace MSYS2's core and stop early; the second
# finishes it. Neither run's exit code says whether the packages below can be installed.
Step 'packages'
# A stopped run ends pacman at once, maybe inside a transaction, and its lock would then
# refuse every later run. The lock is left to a pacman of this MSYS2 that still runs, and to
# one whose path cannot be read (a 32-bit PowerShell cannot read a 64-bit process's).
$lock = "$Msys\var\lib\pacman\db.lck"
if (Test-Path -LiteralPath $lock -PathType Leaf) {
    $root = (Full $Msys).TrimEnd('\', '/') + [IO.Path]::DirectorySeparatorChar
    $holders = @(Get-Process -Name 'pacman*' -ErrorAction SilentlyContinue | Where-Object {
            -not $_.Path -or ([IO.Path]::GetFileName($_.Path) -eq 'pacman.exe' -and
                $_.Path.StartsWith($root, [StringComparison]::OrdinalIgnoreCase))
        })
    if ($holders.Count) {
        Say "pacman is running in $Msys; let it finish, then run this again"
        Quit 1
    }
    Say 'removing the package lock that a stopped run left behind'
    Remove-Item -LiteralPath $lock -Force
}
Say 'updating MSYS2 and installing the build tools (this takes a while the first time)'
Run $bash @('-lc', 'pacman -Syu --noconfirm')
Run $bash @('-lc', 'pacman -Syu --noconfirm')
$packages = 'clang', 'lld', 'cmake', 'ninja', 'python', 'pkgconf', 'sdl3', 'opus', 'ffmpeg',
    'vulkan-loader', 'vulkan-headers', 'fmt', 'zstd', 'lz4'
Msys ('pacman -S --needed --noconfirm ' + (($packages | ForEach-Object { "mingw-w64-clang-x86_64-$_" }) -join ' ')) 'could not install the build tools'

# 5. Source tree: the checkout this script stands in, or a fresh download. Run by the
# installer, the script lies in a temporary folder of its own, so it always downloads.
Step 'source'
$source = $PSScriptRoot
if (-not (Test-Path -LiteralPath "$source\tools\build_game.py" -PathType Leaf)) {
    Say "downloading $Repo"
    # A stopped run could not remove its download, and a failed build keeps its own: only the
    # newest stays. The installer's own "vorlen-setup" folder is not one of them.
    $temp = Full $env:TEMP
    foreach ($old in [IO.Directory]::GetDirectories($temp, 'vorlen-*')) {
        if ([IO.Path]::GetFileName($old) -match '^vorlen-[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}$') {
            try { [IO.Directory]::Delete($old, $true) } catch { }
        }
    }
    $download = Full "$temp\vorlen-$([guid]::NewGuid())"
    $null = [IO.Directory]::CreateDirectory($download)
    $zip = Full "$download\src.zip"
    Download "https://codeload.github.com/$Repo/zip/refs/heads/main" $zip
    # Expand-Archive reads its -DestinationPath as wildcards in Windows PowerShell.
    Add-Type -AssemblyName System.IO.Compression.FileSystem
    [IO.Compression.ZipFile]::ExtractToDirectory($zip, $download)
    $source = (Get-ChildItem -LiteralPath $download -Directory | Select-Object -First 1).FullName
}

# 6. Install folder. Installing again (to add DLSS, or to repair) updates the default
# installation instead of building the whole game again in a new folder inside it.
$default = "$env:LOCALAPPDATA\vorlen"
$data = $Dir
if (-not $data -and (Is-Install $default)) {
    $data = $default
    Say "an installation is already in $data, so it is updated there"
}
if (-not $data -and -not $byHand) { $data = $default }
if (-not $data) {
    Add-Type -AssemblyName System.Windows.Forms
    $dialog = New-Object System.Windows.Forms.FolderBrowserDialog
    $dialog.Description = "Choose where to install Vorlen (a Vorlen folder is made there). Cancel: $default"
    $dialog.ShowNewFolderButton = $true
    if ($dialog.ShowDialog() -eq 'OK' -and $dialog.SelectedPath) {
        $picked = [string]$dialog.SelectedPath
        # Join-Path, not "\": a picked drive root ("D:\") already ends with one.
        if (Is-Install $picked) { $data = $picked } else { $data = Join-Path $picked 'Vorlen' }
    } else {
        $data = $default
    }
}
$data = Resolve-Folder $data
Say "installing into $data"

# What is in the folder before the build is not the installation's (saves, a file of the
# player's), unless an earlier run made it; a run that did not finish keeps its list.
$record = Read-Record $data
if (-not $record.Unfinished) {
    $record.Found = @(Entries $data | Where-Object { $record.Made -notcontains $_ })
    # An installation made before there was a record: what the launcher is known to make.
    if (-not $record.Exists -and (Is-Install $data)) {
        $record.Made = @($record.Found | Where-Object { @('source', 'app', 'main.img', 'vorlen.cmd') -contains $_ })
        $record.Found = @($record.Found | Where-Object { $record.Made -notcontains $_ })
    }
}
$null = [IO.Directory]::CreateDirectory((Full $data))
Write-Record $data $record.Made $record.Found -Unfinished
# For the entry in Installed apps: the source's date (an archive's files carry its commit's)
# and the project that publishes it.
$version = ''
$launcher = Full "$source\installer\launcher.py"
# Dates in the Gregorian calendar, whatever the player's own (a Thai Windows counts 543 years more).
if ([IO.File]::Exists($launcher)) { $version = [IO.File]::GetLastWriteTime($launcher).ToString('yyyy.M.d', [Globalization.CultureInfo]::InvariantCulture) }
$publisher = $Repo.Split('/')[0]
try { $publisher = ([IO.File]::ReadAllLines((Full "$source\installer\repo.txt"))[0].Trim() -split '/')[0] } catch { }

# 7. Build.
$clang64 = "$Msys\clang64\bin"
$python = "$clang64\python.exe"
$env:PATH = "$clang64;$Msys\usr\bin;$env:PATH"
$env:MSYSTEM = 'CLANG64'
$launch = @("$source\installer\launcher.py", 'install', '--source', $source, '--nup', $Nup, '--dir', $data)
if ($Dlss) { $launch += '--dlss' }
Run $python $launch
if ($LASTEXITCODE -ne 0) {
    # The downloaded source stays in the temporary folder for a look at what went wrong.
    Say 'the build failed; see the messages above'
    Quit 1 -KeepSource
}
Tidy

# 8. Runner, shortcuts and permissions.
Step 'shortcuts'
$runner = "$data\vorlen.cmd"
# The runner finds its own folder (%~dp0, read before any "cd" changes what it gives), so it
# holds no copy of the install folder's name: cmd.exe reads a batch file in the console's
# code page, which may lack letters of that name or differ from the one it was written in.
# cmd.exe expands "%...%" in a batch file, so a "%" of a path ("D:\100% MSYS2") is written "%%".
$cmdClang64 = $clang64.Replace('%', '%%')
$cmdMsys = $Msys.Replace('%', '%%')
$cmdPython = $python.Replace('%', '%%')
$lines = @(
    '@echo off'
    'rem vorlen: checks for updates, then starts the game.'
    "set `"PATH=$cmdClang64;$cmdMsys\usr\bin;%PATH%`""
    'set MSYSTEM=CLANG64'
    'set "VORLEN_PORT_HOME=%~dp0"'
    'set "VORLEN_PORT_HOME=%VORLEN_PORT_HOME:~0,-1%"'
    'cd /d "%VORLEN_PORT_HOME%"'
    "`"$cmdPython`" `"%VORLEN_PORT_HOME%\source\installer\launcher.py`" run %*"
    'if errorlevel 1 pause'
)
# What stays is the MSYS2 root, written in the console's code page: the OEM code page in a
# new console window and in the hidden one that the installer gives PowerShell. .NET
# Framework silently writes a look-alike for a letter that page lacks ("L" for an "L" with a
# stroke), so the text must come back unchanged from its bytes. The bytes are written here
# because Windows PowerShell's "-Encoding Oem" puts a byte-order mark in front when that code
# page is 65001 (UTF-8), and cmd.exe would read it as part of "@echo off".
$text = ($lines -join "`r`n") + "`r`n"
$encoding = [Console]::OutputEncoding
$bytes = $encoding.GetBytes($text)
if ($encoding.GetString($bytes) -cne $text) {
    Say "the MSYS2 folder $Msys has letters that this PC's console cannot write, so the game may not start from its shortcut; MSYS2 in a folder named in plain letters (C:\msys64) avoids this"
}
[IO.File]::WriteAllBytes((Full $runner), $bytes)

# Shortcuts through the shell's own objects, which take paths as Unicode: WScript.Shell turns
# them into the ANSI code page and fails to save a shortcut in a folder named beyond it. The
# shell edits only an existing shortcut, so an empty one (the 76-byte header of a shell link
# with no target, and the terminal block) is written first. A shortcut that cannot be made
# does not undo the finished build: the runner starts the game as well.
$empty = New-Object byte[] 80
$empty[0] = 0x4C
[Array]::Copy(([guid]'00021401-0000-0000-C000-000000000046').ToByteArray(), 0, $empty, 4, 16)
$empty[60] = 1    # shown in a normal window
$shell = New-Object -ComObject Shell.Application
$made = 0
foreach ($folder in @([Environment]::GetFolderPath('Programs'), [Environment]::GetFolderPath('Desktop'))) {
    $file = "$folder\Vorlen.lnk"
    try {
        [IO.File]::WriteAllBytes($file, $empty)
        $link = $shell.NameSpace($folder).ParseName('Vorlen.lnk').GetLink
        $link.Path = $runner
        $link.WorkingDirectory = $data
        $link.Description = 'Native PC port built from your own copy of the game'
        $link.Save()
        $made++
    } catch {
        try { [IO.File]::Delete($file) } catch { }
        Say "could not make the shortcut $file ($(Reason $_)); vorlen.cmd in $data starts the game"
    }
}

# Made from an administrator's PowerShell, the installation may be readable by
# administrators only, and the shortcut would then need administrator rights every time.
# The player is named by the account's SID: a name may resolve to another account of that
# name, or not at all for an Entra ID account. The Users group holds every signed-in account,
# so where the SID cannot be read (.NET knows no Windows accounts elsewhere) it still serves.
# icacls by its full path, as a program named alone is looked for in the current folder
# first; elsewhere than on Windows .NET has no system folder and the name is looked up.
$grants = @()
try { $grants = @('/grant', "*$([Security.Principal.WindowsIdentity]::GetCurrent().User.Value):(OI)(CI)F") } catch { }
$icacls = [IO.Path]::Combine([Environment]::SystemDirectory, 'icacls.exe')
# Nor does an icacls that cannot even be started undo the finished build.
$failed = ''
try {
    $null = Run $icacls (@($data) + $grants + @('/grant', '*S-1-5-32-545:(OI)(CI)M', '/T', '/C', '/Q')) -Quiet
    if ($LASTEXITCODE -ne 0) { $failed = "icacls $LASTEXITCODE" }
} catch {
    $failed = Reason $_
}
if ($failed) {
    Say "could not set the installation's permissions ($failed); if the game asks for administrator rights, run this installer again without them"
}

# Removable like any program: the record of what the installation made, the uninstaller
# beside it, and the player's own entry in Installed apps. None of it undoes the finished build.
$record = Read-Record $data
$ours = @($record.Made) + @(Entries $data | Where-Object { $record.Found -notcontains $_ })
$ours = @(@(Entries $data | Where-Object { $ours -contains $_ }) + @('vorlen.cmd', 'uninstall.ps1', 'uninstall.txt') | Sort-Object -Unique)
$uninstaller = Full "$data\uninstall.ps1"
try {
    Write-Record $data $ours
    # Carried beside this script by the installer, and by a source tree beside its install.ps1.
    foreach ($from in @("$PSScriptRoot\uninstall.ps1", "$data\source\uninstall.ps1")) {
        $from = Full $from
        if ([IO.File]::Exists($from)) {
            if ($from -ne $uninstaller) { [IO.File]::Copy($from, $uninstaller, $true) }
            break
        }
    }
    if (-not [IO.File]::Exists($uninstaller)) { throw 'uninstall.ps1 is not beside this script' }
    # The size is left out where a folder cannot be read to its end.
    $size = ''
    try {
        $bytes = 0
        foreach ($name in $ours) {
            $item = Full "$data\$name"
            if ([IO.File]::Exists($item)) { $bytes += (New-Object IO.FileInfo $item).Length }
            elseif ([IO.Directory]::Exists($item)) {
                foreach ($file in (New-Object IO.DirectoryInfo $item).EnumerateFiles('*', 'AllDirectories')) { $bytes += $file.Length }
            }
        }
        $size = [uint32][Math]::Min([Math]::Ceiling($bytes / 1KB), [uint32]::MaxValue)
    } catch { }
    $powershell = [IO.Path]::Combine([Environment]::SystemDirectory, 'WindowsPowerShell\v1.0\powershell.exe')
    $remove = "`"$powershell`" -NoProfile -ExecutionPolicy Bypass -File `"$uninstaller`""
    $entry = [ordered]@{
        DisplayName          = 'Vorlen'
        DisplayIcon          = "$data\app\vorlen.exe"
        DisplayVersion       = $version
        Publisher            = $publisher
        InstallLocation      = $data
        InstallDate          = (Get-Date).ToString('yyyyMMdd', [Globalization.CultureInfo]::InvariantCulture)
        EstimatedSize        = $size
        NoModify             = [uint32]1
        NoRepair             = [uint32]1
        UninstallString      = $remove
        QuietUninstallString = "$remove -Quiet"
    }
    # reg.exe by its full path, as icacls above; per user, so no administrator rights.
    $reg = [IO.Path]::Combine([Environment]::SystemDirectory, 'reg.exe')
    foreach ($name in $entry.Keys) {
        $value = $entry[$name]
        if ("$value" -eq '') { continue }
        $type = if ($value -is [uint32]) { 'REG_DWORD' } else { 'REG_SZ' }
        $null = Run $reg @('add', 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorlen', '/v', $name, '/t', $type, '/d', "$value", '/f') -Quiet
        if ($LASTEXITCODE -ne 0) { throw "reg.exe $LASTEXITCODE" }
    }
} catch {
    $how = if ([IO.File]::Exists($uninstaller)) { "; uninstall.ps1 in $data removes it" } else { '' }
    Say "could not add Vorlen to Installed apps ($(Reason $_))$how"
}

if ($made) {
    Say 'installed. Start the game from the Start menu or the desktop shortcut.'
} else {
    Say "installed. Start the game with vorlen.cmd in $data."
}

# Only a person at a console is asked; the installer has its own Play button.
if ($byHand) {
    $answer = Read-Host 'Start the game now? [Y/n]'
    if ($answer -notlike 'n*') {
        # Started through the shell, as a double-click on the runner would be; a path with
        # square brackets is taken as it is.
        $start = New-Object System.Diagnostics.ProcessStartInfo $runner
        $start.WorkingDirectory = $data
        $start.UseShellExecute = $true
        [System.Diagnostics.Process]::Start($start) | Out-Null
    }
}
# Said outright: for a script that just ends, PowerShell versions differ on whether the
# exit code follows the success of the last command, and icacls may have failed above.
Quit 0
