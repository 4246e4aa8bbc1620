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
# - PATH, for winget and icacls, and for the program that opens the runner when the game
#   is started (xdg-open on Linux);
# - TEMP, LOCALAPPDATA, USERNAME, PROCESSOR_ARCHITECTURE and PROCESSOR_ARCHITEW6432;
# - a PowerShell profile that stands in for Invoke-WebRequest, Add-Type and New-Object
#   (the Windows Forms dialogs and WScript.Shell).
# So keep calling those commands by their plain names, make dialogs and COM objects with
# New-Object, compare a dialog's result with the text 'OK' (the doubles have no Forms
# types), and test the processor variables for the 64-bit check.

$env:PYTHONUNBUFFERED = '1'

function Say([string]$Message) {
    Write-Host "[Vorlen] $Message" -ForegroundColor Cyan
}

function Step([string]$Key) {
    Write-Host "@step $Key"
}

# Runs a program and passes its output through as plain lines. Windows PowerShell turns each
# line that a program writes to its error output into an error record when its own output is
# a pipe (as under the installer), and under "Stop" the first such line would end the script;
# joined to the normal output here, those lines stay the program's own text. A program that
# cannot be started at all still ends the script.
function Run([string]$Program, [string[]]$Arguments, [switch]$Quiet) {
    $ErrorActionPreference = 'Continue'
    try {
        if ($Quiet) {
            & $Program @Arguments 2>&1 | Out-Null
        } else {
            & $Program @Arguments 2>&1 | ForEach-Object {
                if ($_ -is [System.Management.Automation.ErrorRecord]) { [string]$_.TargetObject } else { $_ }
            }
        }
    } catch {
        throw
    }
}

function Msys([string]$Command) {
    $env:MSYSTEM = 'CLANG64'
    $env:CHERE_INVOKING = '1'
    Run "$Msys\usr\bin\bash.exe" @('-lc', $Command)
    if ($LASTEXITCODE -ne 0) { throw "MSYS2 command failed: $Command" }
}

function Pick-Game {
    Add-Type -AssemblyName System.Windows.Forms
    $dialog = New-Object System.Windows.Forms.OpenFileDialog
    $dialog.Title = 'Select your dump of The Legend of Zelda: Ocarina of Time (Switch 2; update v131072 is the tested one)'
    $dialog.Filter = 'Switch 2 package (*.nup)|*.nup|All files (*.*)|*.*'
    if ($dialog.ShowDialog() -eq 'OK') { return [string]$dialog.FileName }
    return ''
}

function Is-Install([string]$Folder) {
    if (-not $Folder) { return $false }
    return (Test-Path -LiteralPath "$Folder\main.img" -PathType Leaf) -or
        (Test-Path -LiteralPath "$Folder\app\vorlen.exe" -PathType Leaf)
}

# 1. Platform. A 32-bit PowerShell on 64-bit Windows sees "x86" here and the machine's own
# architecture in PROCESSOR_ARCHITEW6432.
if ($env:PROCESSOR_ARCHITECTURE -eq 'x86' -and -not $env:PROCESSOR_ARCHITEW6432) {
    Say 'a 64-bit Windows is required'
    exit 1
}

# Windows PowerShell on older Windows 10 builds offers only TLS 1.0 and 1.1 unless told
# otherwise, and the download hosts refuse those.
$tls = [Net.ServicePointManager]::SecurityProtocol
if ($tls -ne 0) { [Net.ServicePointManager]::SecurityProtocol = $tls -bor [Net.SecurityProtocolType]::Tls12 }

# 2. MSYS2.
Step 'msys'
$bash = "$Msys\usr\bin\bash.exe"
if (-not (Test-Path -LiteralPath $bash -PathType Leaf)) {
    Say "installing MSYS2 (build environment) into $Msys"
    # winget's exit code says little (it fails when MSYS2 is already listed, for one);
    # what counts is whether bash.exe is there afterwards.
    if (Get-Command winget -ErrorAction SilentlyContinue) {
        Run winget @('install', '--id', 'MSYS2.MSYS2', '-e', '--silent',
            '--accept-package-agreements', '--accept-source-agreements', '--location', $Msys)
    }
    if (-not (Test-Path -LiteralPath $bash -PathType Leaf)) {
        $setup = "$env:TEMP\msys2-installer.exe"
        Invoke-WebRequest -Uri 'https://repo.msys2.org/distrib/msys2-x86_64-latest.exe' -OutFile $setup -UseBasicParsing
        # Piping the output away also makes PowerShell wait for the installer to finish.
        Run $setup @('in', '--confirm-command', '--accept-messages', '--root', ($Msys -replace '\\', '/')) -Quiet
        Remove-Item -LiteralPath $setup -Force -ErrorAction SilentlyContinue
    }
    if (-not (Test-Path -LiteralPath $bash -PathType Leaf)) {
        Say 'MSYS2 could not be installed; install it from https://www.msys2.org and run this again'
        exit 1
    }
}

# 3. Packages. The first full update may replace MSYS2's core and stop early; the second
# finishes it. Neither run's exit code says whether the packages below can be installed.
Step 'packages'
Say 'updating MSYS2 and installing the build tools (this takes a while the first time)'
Run $bash @('-lc', 'pacman -Syu --noconfirm')
Run $bash @('-lc', 'pacman -Syu --noconfirm')
$packages = 'clang', 'lld', 'cmake', 'ninja', 'python', 'pkgconf', 'sdl3', 'opus', 'ffmpeg',
    'vulkan-loader', 'vulkan-headers', 'fmt', 'zstd', 'lz4'
Msys ('pacman -S --needed --noconfirm ' + (($packages | ForEach-Object { "mingw-w64-clang-x86_64-$_" }) -join ' '))

# 4. Source tree: the checkout this script stands in, or a fresh download. Run by the
# installer, the script lies in a temporary folder of its own, so it always downloads.
Step 'source'
$source = $PSScriptRoot
$download = ''
if (-not (Test-Path -LiteralPath "$source\tools\build_game.py" -PathType Leaf)) {
    Say "downloading $Repo"
    $download = "$env:TEMP\vorlen-$([guid]::NewGuid())"
    New-Item -ItemType Directory -Path $download | Out-Null
    $zip = "$download\src.zip"
    Invoke-WebRequest -Uri "https://codeload.github.com/$Repo/zip/refs/heads/main" -OutFile $zip -UseBasicParsing
    Expand-Archive -LiteralPath $zip -DestinationPath $download
    $source = (Get-ChildItem -LiteralPath $download -Directory | Select-Object -First 1).FullName
}

# 5. Game file. Dump names carry square brackets ("[v131072]"), so every test of the path
# is literal; read as a wildcard, such a name would find no file.
if ($Nup -and -not (Test-Path -LiteralPath $Nup -PathType Leaf)) {
    Say "no such file: $Nup - choose the game file"
    $Nup = ''
}
if (-not $Nup) { $Nup = Pick-Game }
if (-not $Nup) {
    Say 'no game file selected'
    exit 1
}
if (-not (Test-Path -LiteralPath $Nup -PathType Leaf)) {
    Say "no such file: $Nup"
    exit 1
}

# 6. Install folder. Installing again (to add DLSS, or to repair) updates the default
# installation instead of building the whole game again in a new folder inside it.
$default = "$env:LOCALAPPDATA\vorlen"
$data = $Dir
if (-not $data -and (Is-Install $default)) {
    $data = $default
    Say "an installation is already in $data, so it is updated there"
}
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
# Relative to PowerShell's own current folder, which a console session may have moved away
# from the process's; nothing in the path is read as a wildcard.
$data = $ExecutionContext.SessionState.Path.GetUnresolvedProviderPathFromPSPath($data)
Say "installing into $data"

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
    exit 1
}
if ($download) { Remove-Item -LiteralPath $download -Recurse -Force -ErrorAction SilentlyContinue }

# 8. Runner, shortcuts and permissions.
Step 'shortcuts'
$runner = "$data\vorlen.cmd"
# cmd.exe reads a batch file in the OEM code page, and the install folder usually lies in the
# user's profile, whose name may hold letters beyond ASCII ("C:\Users\Jurgen" with an umlaut):
# written as ASCII they would become "?" and the runner could not find the game.
Set-Content -LiteralPath $runner -Encoding Oem -Value @(
    '@echo off'
    'rem vorlen: checks for updates, then starts the game.'
    "set `"PATH=$clang64;$Msys\usr\bin;%PATH%`""
    'set MSYSTEM=CLANG64'
    "set `"VORLEN_PORT_HOME=$data`""
    "cd /d `"$data`""
    "`"$python`" `"$data\source\installer\launcher.py`" run %*"
    'if errorlevel 1 pause'
)

$shell = New-Object -ComObject WScript.Shell
foreach ($folder in @([Environment]::GetFolderPath('Programs'), [Environment]::GetFolderPath('Desktop'))) {
    $link = $shell.CreateShortcut("$folder\Vorlen.lnk")
    $link.TargetPath = $runner
    $link.WorkingDirectory = $data
    $link.Description = 'Native PC port built from your own copy of the game'
    $link.Save()
}

# Made from an administrator's PowerShell, the installation may be readable by
# administrators only, and the shortcut would then need administrator rights every time.
Run icacls @($data, '/grant', "$($env:USERNAME):(OI)(CI)F", '/grant', '*S-1-5-32-545:(OI)(CI)M', '/T', '/C', '/Q') -Quiet
if ($LASTEXITCODE -ne 0) {
    Say "could not set the installation's permissions (icacls $LASTEXITCODE); if the game asks for administrator rights, run this installer again without them"
}

Say 'installed. Start the game from the Start menu or the desktop shortcut.'

# Only a person at a console is asked; the installer starts PowerShell with -NonInteractive
# and has its own Play button.
$byHand = [Environment]::UserInteractive -and
    -not ([Environment]::GetCommandLineArgs() | Where-Object { $_ -like '-NonI*' })
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
exit 0
