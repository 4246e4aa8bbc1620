# Runs script/install.ps1 for real, in a fresh PowerShell process, inside a sandbox folder
# where only the outside world is replaced: MSYS2's bash.exe and CLANG64's python.exe (in
# the -Msys root), winget, icacls.exe and the desktop opener (on PATH), the network (the
# WebClient), the Windows Forms dialogs and Shell.Application (through the PowerShell profile in
# doubles/profile.ps1).
# Dot-sourced by every *.Tests.ps1 file.

$script:Here = $PSScriptRoot
$script:Doubles = Join-Path $PSScriptRoot 'doubles'
# VORLEN_SCRIPT_UNDER_TEST runs the scenarios against another copy of the script, e.g. one
# with a deliberate fault, to see that they catch it.
$script:InstallScript = if ($env:VORLEN_SCRIPT_UNDER_TEST) { $env:VORLEN_SCRIPT_UNDER_TEST } else {
    (Resolve-Path (Join-Path $PSScriptRoot '../../script/install.ps1')).Path
}
# The same for the uninstaller, which the installer carries beside the install script.
$script:UninstallScript = if ($env:VORLEN_UNINSTALL_UNDER_TEST) { $env:VORLEN_UNINSTALL_UNDER_TEST } else {
    (Resolve-Path (Join-Path $PSScriptRoot '../../script/uninstall.ps1')).Path
}

# The same PowerShell that runs the tests runs the script (a .NET tool runs as "dotnet pwsh.dll").
$script:PwshCommand = if ((Split-Path -Leaf ([Environment]::ProcessPath)) -eq 'dotnet') {
    @([Environment]::ProcessPath, (Join-Path $PSHOME 'pwsh.dll'))
} else {
    @([Environment]::ProcessPath)
}

# Where the stand-in downloads live, named as the profile looks them up.
$script:InstallerUrlKey = 'repo.msys2.org_distrib_msys2-x86_64-latest.exe'
function Get-ArchiveUrlKey([string]$Repo = 'vorlen-port/vorlen') {
    "codeload.github.com_$($Repo -replace '/', '_')_zip_refs_heads_main"
}

function Copy-Double([string]$Name, [string]$Destination) {
    $null = New-Item -ItemType Directory -Force -Path (Split-Path -Parent $Destination)
    Copy-Item -LiteralPath (Join-Path $Doubles $Name) -Destination $Destination
    [IO.File]::SetUnixFileMode($Destination, [IO.UnixFileMode]'UserRead, UserWrite, UserExecute, GroupRead, GroupExecute, OtherRead, OtherExecute')
}

<#
New-Sandbox makes a folder (its name holds a space, so every path the script handles does)
with:
  setup/install.ps1     the script, where the installer would put it (no source tree beside it),
                        with uninstall.ps1 beside it;
                        with -Checkout it is vorlen [src]/install.ps1 in a source checkout
                        instead, which spares the download (for tests about other stages)
  msys64/usr/bin/bash.exe, pacman.exe, msys-2.0.dll   unless -NoMsys
  bin/                  icacls.exe, reg.exe, Windows PowerShell by its path in the system folder
                        (see doubles/powershell.exe), xdg-open, and winget with -Winget
  web/                  the source archive (with -Archive) and the MSYS2 installer (-Installer)
  appdata/ temp/ home/Desktop/ state/   LOCALAPPDATA, TEMP, HOME, the doubles' counters;
                        with -Account NAME the first three lie in users/NAME/, as in a
                        Windows profile (an account such as "[clan] Sam")
  games/                the game file $box.Nup ("... [v131072] ....nup")
#>
function New-Sandbox {
    param(
        [switch]$NoMsys,
        [switch]$Winget,
        [switch]$Installer,
        [switch]$Archive,
        [switch]$Checkout,
        [string]$Repo = 'vorlen-port/vorlen',
        [string]$Account
    )
    $root = Join-Path $TestDrive ('box ' + [guid]::NewGuid().ToString('N').Substring(0, 8))
    $user = if ($Account) { Join-Path $root "users/$Account" } else { $root }
    # .NET takes an account name's square brackets as they are.
    foreach ($sub in 'setup', 'bin', 'web', 'tmp', 'config/powershell', 'state', 'games') {
        $null = [IO.Directory]::CreateDirectory((Join-Path $root $sub))
    }
    foreach ($sub in 'appdata', 'temp', 'home/Desktop') {
        $null = [IO.Directory]::CreateDirectory((Join-Path $user $sub))
    }
    $scriptPath = Join-Path $root 'setup/install.ps1'
    if ($Checkout) {
        $source = Join-Path $root 'vorlen [src]'
        $null = New-Item -ItemType Directory -Force -Path (Join-Path $source 'tools'), (Join-Path $source 'installer')
        Set-Content -LiteralPath (Join-Path $source 'tools/build_game.py') -Value '# build'
        $scriptPath = Join-Path $source 'install.ps1'
    }
    Copy-Item -LiteralPath $InstallScript -Destination $scriptPath
    Copy-Item -LiteralPath $UninstallScript -Destination (Join-Path (Split-Path -Parent $scriptPath) 'uninstall.ps1')
    Copy-Item -LiteralPath (Join-Path $Doubles 'profile.ps1') -Destination (Join-Path $root 'config/powershell/Microsoft.PowerShell_profile.ps1')
    if (-not $NoMsys) {
        Copy-Double 'bash.exe' (Join-Path $root 'msys64/usr/bin/bash.exe')
        [IO.File]::WriteAllBytes((Join-Path $root 'msys64/usr/bin/pacman.exe'), [byte[]]@())
        [IO.File]::WriteAllBytes((Join-Path $root 'msys64/usr/bin/msys-2.0.dll'), [byte[]]@())
    }
    Copy-Double 'icacls.exe' (Join-Path $root 'bin/icacls.exe')
    Copy-Double 'reg.exe' (Join-Path $root 'bin/reg.exe')
    # One file named with backslashes, as .NET looks the system folder's path up on PATH here.
    $powershell = [IO.Path]::Combine($root, 'bin', 'WindowsPowerShell\v1.0\powershell.exe')
    [IO.File]::Copy((Join-Path $Doubles 'powershell.exe'), $powershell)
    [IO.File]::SetUnixFileMode($powershell, [IO.UnixFileMode]'UserRead, UserWrite, UserExecute, GroupRead, GroupExecute, OtherRead, OtherExecute')
    Copy-Double 'xdg-open' (Join-Path $root 'bin/xdg-open')
    if ($Winget) { Copy-Double 'winget' (Join-Path $root 'bin/winget') }
    if ($Installer) { Copy-Double 'msys2-installer.exe' (Join-Path $root "web/$InstallerUrlKey") }
    if ($Archive) { New-SourceArchive (Join-Path $root "web/$(Get-ArchiveUrlKey $Repo)") }
    $nup = Join-Path $root 'games/The Legend of Zelda [v131072] (Switch 2).nup'
    [IO.File]::WriteAllBytes($nup, [byte[]](1, 2, 3))
    [pscustomobject]@{
        Root    = $root
        Script  = $scriptPath
        Msys    = Join-Path $root 'msys64'
        AppData = Join-Path $user 'appdata'
        Temp    = Join-Path $user 'temp'
        Home    = Join-Path $user 'home'
        Log     = Join-Path $root 'log.txt'
        # The values that reg.exe keeps (doubles/reg.exe), one file each.
        Registry = Join-Path $root 'state/registry'
        Nup     = $nup
    }
}

# A ZIP archive as the code-hosting service serves it: one top folder holding the tree.
function New-SourceArchive([string]$Destination) {
    $tree = Join-Path ([IO.Path]::GetDirectoryName($Destination)) 'archive-tree'
    $top = Join-Path $tree 'vorlen-main'
    $null = New-Item -ItemType Directory -Force -Path (Join-Path $top 'tools'), (Join-Path $top 'installer')
    Set-Content -LiteralPath (Join-Path $top 'tools/build_game.py') -Value '# build'
    Set-Content -LiteralPath (Join-Path $top 'installer/launcher.py') -Value '# launcher'
    Set-Content -LiteralPath (Join-Path $top 'installer/repo.txt') -Value 'vorlen-port/vorlen'
    # The service dates every file of an archive to its commit.
    [IO.File]::SetLastWriteTime((Join-Path $top 'installer/launcher.py'), [datetime]'2025-09-14 12:00')
    [IO.Compression.ZipFile]::CreateFromDirectory($tree, $Destination, [IO.Compression.CompressionLevel]::Fastest, $false)
    Remove-Item -LiteralPath $tree -Recurse -Force
}

<#
Invoke-Setup runs the script in the sandbox as the installer does (-NonInteractive; output
and error output joined in one pipe, read as the installer reads it) or, with -ByHand, as a
person at a console would, with -Answer typed in; -Options replaces PowerShell's options.
-Environment adds or overrides variables (a $null value removes one). One difference from the
installer: it passes -NoProfile, and here the profile brings the doubles. The result holds
the exit code, the output's bytes and its lines (read as UTF-8) and the calls that the
doubles recorded.
#>
function Invoke-Setup {
    param(
        [Parameter(Mandatory = $true)]$Box,
        [string[]]$Arguments = @(),
        [hashtable]$Environment = @{},
        [switch]$ByHand,
        [string]$Answer = '',
        [string[]]$Options,
        [string]$ScriptPath = $Box.Script
    )
    $start = [Diagnostics.ProcessStartInfo]::new('/bin/sh')
    # One pipe for both outputs, as the installer has it, so lines keep the order they were written in.
    foreach ($a in @('-c', 'exec "$@" 2>&1', 'sh') + $PwshCommand) { $start.ArgumentList.Add($a) }
    $pwshOptions = if ($Options) { $Options } elseif ($ByHand) { @('-ExecutionPolicy', 'Bypass') } else { @('-NonInteractive', '-ExecutionPolicy', 'Bypass') }
    foreach ($a in $pwshOptions + @('-File', $ScriptPath) + $Arguments) { $start.ArgumentList.Add($a) }
    $start.UseShellExecute = $false
    $start.RedirectStandardInput = $true
    $start.RedirectStandardOutput = $true
    $start.WorkingDirectory = $Box.Root
    $start.Environment.Clear()
    $vars = [ordered]@{
        # The script puts "clang64\bin;usr\bin;" in front of PATH, Windows style; on Linux that
        # swallows the first entry, so the first one here is a folder that does not exist.
        PATH                          = "$($Box.Root)/no-such-folder:$($Box.Root)/bin:/usr/local/bin:/usr/bin:/bin"
        HOME                          = $Box.Home
        XDG_CONFIG_HOME               = Join-Path $Box.Root 'config'
        XDG_CACHE_HOME                = Join-Path $Box.Root 'cache'
        XDG_DATA_HOME                 = Join-Path $Box.Root 'data'
        TMPDIR                        = Join-Path $Box.Root 'tmp'
        TEMP                          = $Box.Temp
        LOCALAPPDATA                  = $Box.AppData
        USERNAME                      = 'Test Player'
        LANG                          = 'C.UTF-8'
        POWERSHELL_TELEMETRY_OPTOUT   = '1'
        POWERSHELL_UPDATECHECK        = 'Off'
        DOTNET_CLI_TELEMETRY_OPTOUT   = '1'
        VORLEN_TEST_LOG               = $Box.Log
        VORLEN_TEST_DOUBLES           = $Doubles
        VORLEN_TEST_STATE             = Join-Path $Box.Root 'state'
        VORLEN_TEST_WEB               = Join-Path $Box.Root 'web'
        VORLEN_TEST_PWSH              = $PwshCommand[0]
        VORLEN_TEST_PWSH_DLL          = $PwshCommand[1]
    }
    if ($env:DOTNET_ROOT) { $vars.DOTNET_ROOT = $env:DOTNET_ROOT }
    foreach ($k in $Environment.Keys) { $vars[$k] = $Environment[$k] }
    foreach ($k in $vars.Keys) { if ($null -ne $vars[$k]) { $start.Environment[$k] = [string]$vars[$k] } }

    $process = [Diagnostics.Process]::Start($start)
    $process.StandardInput.Write($Answer)
    $process.StandardInput.Close()
    # The bytes as they reach the pipe; the lines are read from them as UTF-8.
    $bytes = [IO.MemoryStream]::new()
    $reading = $process.StandardOutput.BaseStream.CopyToAsync($bytes)
    if (-not $process.WaitForExit(90000)) {
        $process.Kill($true)
        $reading.Wait()
        throw "the script did not end within 90 s; output so far:`n$([Text.Encoding]::UTF8.GetString($bytes.ToArray()))"
    }
    $reading.Wait()
    $output = [Text.Encoding]::UTF8.GetString($bytes.ToArray())
    $lines = @($output -split "`n" | ForEach-Object { $_.TrimEnd("`r") })
    if ($lines.Count -and $lines[-1] -eq '') { $lines = @($lines | Select-Object -SkipLast 1) }
    [pscustomobject]@{
        ExitCode = $process.ExitCode
        Output   = $output
        Bytes    = $bytes.ToArray()
        Lines    = [string[]]$lines
        Calls    = @(Read-Calls $Box.Log)
    }
}

# The doubles' log as objects: Name, Env (a hashtable) and Args (strings), in call order.
function Read-Calls([string]$Log) {
    if (-not (Test-Path -LiteralPath $Log)) { return }
    foreach ($line in [IO.File]::ReadAllLines($Log)) {
        $fields = $line -split "`t"
        $dash = [array]::IndexOf($fields, '--')
        $envs = @{}
        if ($dash -gt 1) {
            foreach ($f in $fields[1..($dash - 1)]) {
                $i = $f.IndexOf('=')
                $envs[$f.Substring(0, $i)] = $f.Substring($i + 1)
            }
        }
        [pscustomobject]@{
            Name = $fields[0]
            Env  = $envs
            Args = [string[]]@(if ($dash + 1 -lt $fields.Count) { $fields[($dash + 1)..($fields.Count - 1)] })
        }
    }
}

# The calls of one double, e.g. (Get-Calls $run 'bash.exe').
function Get-Calls($Run, [string]$Name) { @($Run.Calls | Where-Object Name -eq $Name) }

# The marker lines in the order written ("msys", "packages", ...).
function Get-Steps($Run) { @($Run.Lines | Where-Object { $_ -like '@step *' } | ForEach-Object { $_.Substring(6) }) }

# Fails with the whole output when the run did not end as expected, so a failure shows why.
function Assert-Exit($Run, [int]$Code) {
    if ($Run.ExitCode -ne $Code) {
        throw "expected exit code $Code, got $($Run.ExitCode); output:`n$($Run.Output)"
    }
}

# The common case: a game file given, a folder given, everything else present.
function Get-StandardArguments($Box, [string]$Dir = (Join-Path $Box.Root 'Games/Vorlen')) {
    @('-Nup', $Box.Nup, '-Dir', $Dir, '-Msys', $Box.Msys)
}
