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

# The script's own lines. Into a pipe (the installer's) they go as UTF-8 bytes, which the
# installer reads as such: Write-Host would write the hidden console's OEM code page there, where
# a letter outside it (a Polish name on a PC set to German) comes out as "?". At a console,
# Write-Host shows every letter. $stdout is set once the language mode allows .NET calls.
$stdout = $null
function Put([string]$Line, [string]$Color) {
    if ($stdout) {
        $bytes = [Text.Encoding]::UTF8.GetBytes("$Line`n")
        $stdout.Write($bytes, 0, $bytes.Length)
        $stdout.Flush()
    } elseif ($Color) {
        Write-Host $Line -ForegroundColor $Color
    } else {
        Write-Host $Line
    }
}

function Say([string]$Message) {
    Put "[Vorlen] $Message" Cyan
}

# Where an administrator has locked PowerShell down (Constrained Language Mode), the first
# .NET call below would fail with an error that tells a player nothing. Up to here the
# script uses only what that mode allows.
if ($ExecutionContext.SessionState.LanguageMode -ne 'FullLanguage') {
    Say 'error: this PC lets PowerShell run scripts only in a restricted mode, set by its administrator, and the installation cannot run in it; ask the administrator, or install on another PC'
    exit 1
}
if ([Console]::IsOutputRedirected) { $stdout = [Console]::OpenStandardOutput() }

# What the script downloads to the temporary folder; Quit removes it.
$setup = ''
$download = ''
# All that the last program run with -Quiet or -Copy said (Run).
$said = ''

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
    Put "@step $Key"
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
# and with -Copy (which passes the output, error output too, on byte for byte, as the program
# wrote it, and keeps a copy), the result is the program's last words, the reason of a failure,
# and $said holds all it said. -Environment sets variables for the program alone ($null
# removes one).
# Started through .NET rather than "&", which in Windows PowerShell reads "[" and "]" in the
# program's path as wildcards and passes an argument ending in "\" on as an escaped quote.
function Run([string]$Program, [string[]]$Arguments, [switch]$Quiet, [switch]$Copy, [hashtable]$Environment = @{}) {
    $start = New-Object System.Diagnostics.ProcessStartInfo
    $start.FileName = if ($Program -match '[\\/]') { Full $Program } else { $Program }
    $start.Arguments = @($Arguments | ForEach-Object { Quote $_ }) -join ' '
    $start.WorkingDirectory = $PWD.ProviderPath
    $start.UseShellExecute = $false
    $start.RedirectStandardOutput = [bool]($Quiet -or $Copy)
    $start.RedirectStandardError = [bool]($Quiet -or $Copy)
    foreach ($name in $Environment.Keys) {
        if ($null -eq $Environment[$name]) { $start.EnvironmentVariables.Remove($name) } else { $start.EnvironmentVariables[$name] = $Environment[$name] }
    }
    try {
        $process = [System.Diagnostics.Process]::Start($start)
    } catch {
        throw "could not start ${Program}: $(Reason $_)"
    }
    $streams = @()
    if ($Quiet -or $Copy) { $streams += $process.StandardOutput.BaseStream }
    if ($Quiet -or $Copy) { $streams += $process.StandardError.BaseStream }
    $to = $null
    if ($Copy) { $to = if ($stdout) { $stdout } else { [Console]::OpenStandardOutput() } }
    $kept = Drain $process $streams $to
    $process.WaitForExit()
    $global:LASTEXITCODE = $process.ExitCode
    if ($streams.Count) {
        # In the encoding the program writes: the console's for Windows' own programs (-Quiet),
        # UTF-8 for the tools whose output is passed on. Error output last: where a program
        # says what went wrong.
        $encoding = if ($Copy) { [Text.Encoding]::UTF8 } else { $process.StandardOutput.CurrentEncoding }
        $script:said = @($kept | ForEach-Object { $encoding.GetString($_.ToArray()) }) -join "`n"
        Last-Words $said
    }
}

# Reads a program's output streams to their end, passing what it reads on to $To, and returns a
# copy of each. Once the program has ended, its output is waited for a few seconds at most: a
# program that it started and left running (gpg-agent after pacman's key setup) holds the pipe
# open for as long as it runs, and the script would wait for ever.
function Drain($Process, [IO.Stream[]]$Streams, [IO.Stream]$To) {
    $kept = @(foreach ($stream in $Streams) { New-Object IO.MemoryStream })
    $buffers = @(foreach ($stream in $Streams) { , (New-Object byte[] 4096) })
    $reads = @(for ($i = 0; $i -lt $Streams.Count; $i++) { $Streams[$i].ReadAsync($buffers[$i], 0, 4096) })
    $open = $Streams.Count
    $ended = $null
    while ($open) {
        $null = [Threading.Tasks.Task]::WaitAny([Threading.Tasks.Task[]]@($reads | Where-Object { $_ }), 200)
        for ($i = 0; $i -lt $reads.Count; $i++) {
            if (-not $reads[$i] -or -not $reads[$i].IsCompleted) { continue }
            $n = if ($reads[$i].Status -eq 'RanToCompletion') { $reads[$i].Result } else { 0 }
            if ($n -le 0) {
                $reads[$i] = $null
                $open--
                continue
            }
            if ($To) {
                $To.Write($buffers[$i], 0, $n)
                $To.Flush()
            }
            $kept[$i].Write($buffers[$i], 0, $n)
            $reads[$i] = $Streams[$i].ReadAsync($buffers[$i], 0, 4096)
        }
        if ($open -and $Process.HasExited) {
            if (-not $ended) { $ended = [Diagnostics.Stopwatch]::StartNew() } elseif ($ended.ElapsedMilliseconds -gt 5000) { break }
        }
    }
    $kept
}

# The last line of a program's output that holds words: not a spinner, a progress bar (block
# characters), or a line that it wiped with spaces and carriage returns.
function Last-Words([string]$Text) {
    # They lie at the end: a whole build's output would take long to look through.
    if ($Text.Length -gt 65536) { $Text = $Text.Substring($Text.Length - 65536) }
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

# What MSYS2's commands run with, and they alone. English: pacman takes the language of Windows
# otherwise ("Fehler: " in German), while only English errors are known as a failed step's first
# error, here and in the installer's log; the log then also reads the same on every PC, in words
# a player can search for. And, where Windows names one, the proxy for the package mirror, set
# below: MSYS2's downloads (curl) read only http_proxy and https_proxy.
$msysEnvironment = @{ LC_ALL = 'C.UTF-8'; LANGUAGE = $null }
$msysProxy = ''
# MSYS2's files that antivirus is known to take away; without them no MSYS2 command runs.
$msysFiles = @("$Msys\usr\bin\bash.exe", "$Msys\usr\bin\msys-2.0.dll")

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
    try {
        Run "$Msys\usr\bin\bash.exe" @('-lc', "set -o pipefail; $Command 2>&1 | tee /var/log/vorlen-msys.log") -Environment $msysEnvironment
    } catch {
        Stop-Blocked '' $msysFiles
        throw
    }
    if ($LASTEXITCODE -ne 0) {
        Say "error: MSYS2 command failed: $Command"
        $text = ''
        try { $text = [IO.File]::ReadAllText($copy, [Text.Encoding]::UTF8) } catch { }
        Stop-Blocked $text $msysFiles
        $reason = Proxy-Error $text
        if ($reason) {
            Say ("error: ${Failure}: the network's proxy stopped the download ($reason); MSYS2 cannot sign in to a proxy " +
                'or trust one that inspects encrypted connections: ask whoever runs the network to let repo.msys2.org through, or install on another network')
            Quit 1
        }
        $reason = First-Error $text
        if ($reason) { Say "error: ${Failure}: $reason" } else { Say "error: $Failure; see the messages above" }
        Quit 1
    }
}

# The first error in a tool's output, without its prefix: the cause, where later errors only
# say that something failed.
function First-Error([string]$Text) {
    foreach ($line in $Text -split '[\r\n]+') {
        if ($line -cmatch '^error: *(\S.*)$') { return $Matches[1].Trim() }
    }
    ''
}

# pacman's first error where a proxy stopped its downloads: one that asks for a sign-in (407),
# whose name cannot be found, or that inspects encrypted connections with a certificate of its
# own, which MSYS2 does not trust (only said of a proxy where Windows names one).
function Proxy-Error([string]$Text) {
    $pattern = if ($msysProxy) { '407|[Pp]roxy|SSL certificate problem|certificate verify failed' } else { '407|[Pp]roxy' }
    foreach ($line in $Text -split '[\r\n]+') {
        if ($line -cmatch '^error: *(\S.*)$') {
            $message = $Matches[1].Trim()
            if ($message -match $pattern) { return $message }
        }
    }
    ''
}

# Ends the script where a step failed because antivirus took a file away or blocked it, or a
# file was in use: a file of $Made that is gone, or a line of the step's output that says so.
# Antivirus stops a program writing or starting a file ("Access is denied", "Permission denied",
# Windows error 225, "the file contains a virus") and removes what it takes for a threat; a file
# in use (Windows error 32, which Python prints in the player's language) is held by antivirus
# scanning it, OneDrive syncing it, or the game itself.
function Stop-Blocked([string]$Text, [string[]]$Made) {
    foreach ($file in $Made) {
        if (-not [IO.File]::Exists((Full $file))) { Stop-Antivirus "$file, which the installation made, is gone: antivirus most likely removed it" }
    }
    foreach ($line in $Text -split '[\r\n]+') {
        if ($line -match '\[WinError 32\]|being used by another process') {
            Say "error: $(Named-File $line) is in use by another program: antivirus scanning it, OneDrive syncing it, or the game still running; close the game, wait a minute and Install again"
            Quit 1 -KeepSource
        }
        if ($line -match 'contains a virus or potentially unwanted software|\[WinError (5|225)\]|Access is denied|Permission denied') {
            Stop-Antivirus "$(Named-File $line) was blocked: antivirus most likely blocked or removed it"
        }
    }
}

function Stop-Antivirus([string]$What) {
    Say "error: $What; look in Windows Security's protection history, allow the file, and Install again"
    Quit 1 -KeepSource
}

# The file that a line of error output names: quoted ('C:\\a\\b.obj' as Python writes it), or
# the word before ": Permission denied"; else the line itself.
function Named-File([string]$Line) {
    foreach ($quoted in [regex]::Matches($Line, "'([^']+)'|`"([^`"]+)`"")) {
        $name = $quoted.Groups[1].Value + $quoted.Groups[2].Value
        if ($name -match '[\\/.]' -and $name -notmatch 'denied') { return $name.Replace('\\', '\') }
    }
    if ($Line -match '(\S+): Permission denied') { return $Matches[1] }
    "a file ($($Line.Trim()))"
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

# Antivirus takes files of MSYS2 and of the build away now and then (the failure lines below say
# so); whether Microsoft Defender watches is said for the log. Read only: nothing is changed,
# and no exclusion is ever added.
try {
    $defender = Get-MpComputerStatus -ErrorAction Stop
    if ($defender.RealTimeProtectionEnabled) { Say "Microsoft Defender's real-time protection is on" } else { Say "Microsoft Defender's real-time protection is off" }
} catch { }

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
    $wingetText = ''
    $installerText = ''
    $installerOk = $false
    # winget by the path PowerShell finds on PATH: started by its name alone, it would be looked
    # for in the current folder first (by hand, often a Downloads folder) and run from there.
    $winget = Get-Command winget -CommandType Application -ErrorAction SilentlyContinue | Select-Object -First 1
    if ($winget) {
        try {
            $wingetSaid = Run $winget.Source @('install', '--id', 'MSYS2.MSYS2', '-e', '--silent',
                '--accept-package-agreements', '--accept-source-agreements', '--location', $Msys) -Copy
            $wingetText = $said
        } catch {
            Say "$(Reason $_); downloading the MSYS2 installer instead"
        }
    }
    if (-not (Test-Path -LiteralPath $bash -PathType Leaf)) {
        $setup = Full "$env:TEMP\msys2-installer.exe"
        Download 'https://repo.msys2.org/distrib/msys2-x86_64-latest.exe' $setup
        $installerSaid = Run $setup @('in', '--confirm-command', '--accept-messages', '--root', ($Msys -replace '\\', '/')) -Quiet
        $installerText = $said
        $installerOk = $LASTEXITCODE -eq 0
        Tidy
    }
    if (-not (Test-Path -LiteralPath $bash -PathType Leaf)) {
        if ($installerOk) { Stop-Blocked '' $msysFiles }
        Stop-Blocked "$wingetText`n$installerText" @()
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
# The proxy that Windows names for the package mirror, as the script's own downloads use it.
try {
    $mirror = [uri]'https://repo.msys2.org/'
    $proxy = [Net.WebRequest]::DefaultWebProxy
    if ($proxy -and -not $proxy.IsBypassed($mirror)) {
        $address = $proxy.GetProxy($mirror)
        if ($address -and $address.Host -ne $mirror.Host) {
            $msysProxy = $address.AbsoluteUri
            Say "MSYS2 downloads through this PC's proxy $($address.Authority)"
        }
    }
} catch { }
if ($msysProxy) {
    $msysEnvironment.http_proxy = $msysProxy
    $msysEnvironment.https_proxy = $msysProxy
}
Say 'updating MSYS2 and installing the build tools (this takes a while the first time)'
Run $bash @('-lc', 'pacman -Syu --noconfirm') -Environment $msysEnvironment
Run $bash @('-lc', 'pacman -Syu --noconfirm') -Environment $msysEnvironment
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
    # newest stays (and none that an older version left, named by a whole GUID). The installer's
    # own "vorlen-setup" folder is not one of them.
    $temp = Full $env:TEMP
    foreach ($old in [IO.Directory]::GetDirectories($temp, 'v*')) {
        if ([IO.Path]::GetFileName($old) -match '^(vl-[0-9a-f]{8}|vorlen-[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12})$') {
            try { [IO.Directory]::Delete($old, $true) } catch { }
        }
    }
    # A short name: .NET Framework unpacks no path past 260 characters, and the archive's
    # deepest files come close to that under a longer one.
    $download = Full "$temp\vl-$([guid]::NewGuid().ToString('N').Substring(0, 8))"
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

# Builds fail past Windows' path limit (CMake warns at 250 characters; MSYS2's Ninja and clang
# know no longer paths), and the deepest are the object files: the install folder, a build
# folder, a source file's path in the tree, and a suffix. With the tree's deepest file known,
# a folder too long for it stops the installation now rather than an hour into the build.
# The installer's choices page warns from the same reckoning with a typical tree.
# (A tree that cannot even be listed, holding a longer path already, is left to the build.)
$deepest = -1
try {
    foreach ($file in [IO.Directory]::GetFiles($source, '*', [IO.SearchOption]::AllDirectories)) {
        $deepest = [Math]::Max($deepest, $file.Length - $source.Length - 1)
    }
} catch { $deepest = -1 }
# Of 250: a margin of 10, and 48 for "\build\CMakeFiles\<target>.dir\" and ".obj".
$longest = 250 - 10 - 48 - $deepest
if ($deepest -ge 0 -and $data.Length -gt $longest) {
    Say ("error: the folder $data is too long for the build ($($data.Length) characters): its files would pass " +
        "Windows' path limit; choose a folder of at most $longest characters, such as C:\Games\Vorlen")
    Quit 1
}
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
$null = Run $python $launch -Copy
if ($LASTEXITCODE -ne 0) {
    # The downloaded source stays in the temporary folder for a look at what went wrong.
    Stop-Blocked $said ($msysFiles + $python)
    Say 'the build failed; see the messages above'
    Quit 1 -KeepSource
}
# Antivirus may take the game away as soon as it is built; the shortcuts would start nothing.
$game = "$data\app\vorlen.exe"
if (-not (Test-Path -LiteralPath $game -PathType Leaf)) {
    Stop-Antivirus "the game $game, which the build made, is gone: antivirus most likely removed it"
}
Tidy

# 8. Runner, shortcuts and permissions.
Step 'shortcuts'
$runner = "$data\vorlen.cmd"
# The runner finds its own folder (%~dp0, read before "pushd" changes what it gives), so it
# holds no copy of the install folder's name: cmd.exe reads a batch file in the console's
# code page, which may lack letters of that name or differ from the one it was written in.
# cmd.exe expands "%...%" in a batch file, so a "%" of a path ("D:\100% MSYS2") is written "%%".
# setlocal first: a registry setting can turn delayed expansion on, which takes the "!" out of
# a name such as "D:\Games!". pushd, not "cd /d", enters a folder on a network share as well
# (\\server\share\..., on a drive letter lent for the runner's time, which popd gives back).
$cmdClang64 = $clang64.Replace('%', '%%')
$cmdMsys = $Msys.Replace('%', '%%')
$cmdPython = $python.Replace('%', '%%')
$lines = @(
    '@echo off'
    'setlocal EnableExtensions DisableDelayedExpansion'
    'rem vorlen: checks for updates, then starts the game.'
    "set `"PATH=$cmdClang64;$cmdMsys\usr\bin;%PATH%`""
    'set MSYSTEM=CLANG64'
    'set "VORLEN_PORT_HOME=%~dp0"'
    'set "VORLEN_PORT_HOME=%VORLEN_PORT_HOME:~0,-1%"'
    'pushd "%VORLEN_PORT_HOME%"'
    "`"$cmdPython`" `"%VORLEN_PORT_HOME%\source\installer\launcher.py`" run %*"
    'if errorlevel 1 pause'
    'popd'
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
# with no target, and the terminal block) is written first. Should the shell refuse that,
# WScript.Shell makes the shortcut where the ANSI code page holds every path. A shortcut that
# cannot be made does not undo the finished build: the runner starts the game as well.
$empty = New-Object byte[] 80
$empty[0] = 0x4C
[Array]::Copy(([guid]'00021401-0000-0000-C000-000000000046').ToByteArray(), 0, $empty, 4, 16)
$empty[60] = 1    # shown in a normal window
$shell = New-Object -ComObject Shell.Application
$ansi = [Text.Encoding]::Default
$description = 'Native PC port built from your own copy of the game'
$made = 0
foreach ($place in @(@('Programs', 'Start menu'), @('Desktop', 'desktop'))) {
    # Windows gives some accounts no such folder (an empty path), and "\Vorlen.lnk" would land
    # at the root of the current drive.
    $folder = [Environment]::GetFolderPath($place[0])
    if (-not $folder) {
        Say "Windows names no $($place[1]) folder for this account, so no shortcut is made there; vorlen.cmd in $data starts the game"
        continue
    }
    $file = "$folder\Vorlen.lnk"
    try {
        [IO.File]::WriteAllBytes($file, $empty)
        $link = $shell.NameSpace($folder).ParseName('Vorlen.lnk').GetLink
        $link.Path = $runner
        $link.WorkingDirectory = $data
        $link.Description = $description
        $link.Save()
        $made++
        continue
    } catch {
        $shellFailed = Reason $_
        try { [IO.File]::Delete($file) } catch { }
    }
    $paths = "$file|$runner|$data"
    if ($ansi.GetString($ansi.GetBytes($paths)) -ceq $paths) {
        try {
            $link = (New-Object -ComObject WScript.Shell).CreateShortcut($file)
            $link.TargetPath = $runner
            $link.WorkingDirectory = $data
            $link.Description = $description
            $link.Save()
            $made++
            continue
        } catch {
            try { [IO.File]::Delete($file) } catch { }
        }
    }
    Say "could not make the shortcut $file ($shellFailed); vorlen.cmd in $data starts the game"
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
