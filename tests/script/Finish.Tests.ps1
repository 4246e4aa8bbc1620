# The closing stage: the runner command file, the shortcuts, the permissions and the question.

BeforeAll {
    . (Join-Path $PSScriptRoot 'Harness.ps1')

    # The eleven lines of vorlen.cmd for an MSYS2 root, as the script composes them (Windows
    # paths joined with "\"; each "%" of a path doubled for cmd.exe). The install folder is
    # the runner's own, found when it runs.
    function Get-RunnerLines([string]$Msys) {
        $Msys = $Msys.Replace('%', '%%')
        @(
            '@echo off'
            'setlocal EnableExtensions DisableDelayedExpansion'
            'rem vorlen: checks for updates, then starts the game.'
            "set `"PATH=$Msys\clang64\bin;$Msys\usr\bin;%PATH%`""
            'set MSYSTEM=CLANG64'
            'set "VORLEN_PORT_HOME=%~dp0"'
            'set "VORLEN_PORT_HOME=%VORLEN_PORT_HOME:~0,-1%"'
            'pushd "%VORLEN_PORT_HOME%"'
            "`"$Msys\clang64\bin\python.exe`" `"%VORLEN_PORT_HOME%\source\installer\launcher.py`" run %*"
            'if errorlevel 1 pause'
            'popd'
        )
    }
    # A batch file's lines end with CR LF.
    function Get-RunnerText([string]$Msys) {
        ((Get-RunnerLines $Msys) -join "`r`n") + "`r`n"
    }
    # The runner's text in an encoding; a byte-order mark would stay in it, as "\uFEFF".
    function Read-Runner([string]$Dir, [Text.Encoding]$Encoding = [Text.Encoding]::ASCII) {
        $Encoding.GetString([IO.File]::ReadAllBytes((Join-Path $Dir 'vorlen.cmd')))
    }
    function Get-RunnerNonAscii([string]$Dir) {
        @([IO.File]::ReadAllBytes((Join-Path $Dir 'vorlen.cmd')) | Where-Object { $_ -gt 127 })
    }
    $script:Installed = '[Vorlen] installed. Start the game from the Start menu or the desktop shortcut.'
    $script:Question = 'Start the game now? [Y/n]'
}

Describe 'an installation into a folder with spaces and square brackets' {
    BeforeAll {
        $script:Box = New-Sandbox -Archive
        $script:Dir = Join-Path $Box.Root 'Program Files [x86]/Vorlen Game'
        $script:Run = Invoke-Setup $Box (Get-StandardArguments $Box $Dir)
        Assert-Exit $Run 0
    }

    It 'writes the runner as exactly its eleven lines, every path within double quotes' {
        Read-Runner $Dir | Should -BeExactly (Get-RunnerText $Box.Msys)
    }

    It 'writes "@step shortcuts" after the launcher''s steps, as the last marker' {
        (Get-Steps $Run)[-1] | Should -Be 'shortcuts'
        [array]::IndexOf($Run.Lines, '@step shortcuts') | Should -BeGreaterThan ([array]::IndexOf($Run.Lines, '@step runtime'))
    }

    # .NET names no Start menu folder here, as Windows may not for some accounts.
    It 'saves Vorlen.lnk on the desktop, pointing at the runner; says that there is no Start menu folder, and makes no shortcut at the drive''s root' {
        [Environment]::GetFolderPath('Programs') | Should -BeExactly ''
        $links = Get-Calls $Run 'shortcut'
        $links.Count | Should -Be 1
        $links[0].Args[0] | Should -BeExactly "$($Box.Home)/Desktop\Vorlen.lnk"
        $Run.Lines | Should -Contain "[Vorlen] Windows names no Start menu folder for this account, so no shortcut is made there; vorlen.cmd in $Dir starts the game"
        # Where the script runs, "\Vorlen.lnk" would be a file of that name.
        Test-Path -LiteralPath (Join-Path $Box.Root '\Vorlen.lnk') | Should -BeFalse
        foreach ($link in $links) {
            $link.Args[1..5] | Should -Be @(
                "Path=$Dir\vorlen.cmd"
                "WorkingDirectory=$Dir"
                'Description=Native PC port built from your own copy of the game'
                'Arguments='
                # The file the shell was given to edit is a shell link (else it finds none).
                'ShellLink=True')
        }
    }

    # The player's grant names the account's SID, which .NET reads on Windows only; here the
    # Users group's stays, and no account is named by USERNAME.
    It "grants the Users group modify rights on the whole tree, quietly, by SID" {
        $icacls = Get-Calls $Run 'icacls.exe'
        $icacls.Count | Should -Be 1
        $icacls[0].Args | Should -Be @($Dir, '/grant', '*S-1-5-32-545:(OI)(CI)M', '/T', '/C', '/Q')
        $Run.Output | Should -Not -Match 'processed file|Access is denied'
        $Run.Output | Should -Not -Match 'permissions'
    }

    It 'adds Vorlen to the player''s Installed apps, with the uninstaller that it puts beside the runner' {
        $key = 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorlen'
        $values = [ordered]@{}
        foreach ($call in Get-Calls $Run 'reg.exe') {
            $call.Args.Count | Should -Be 9
            @($call.Args[0, 1, 2, 4, 6, 8]) | Should -Be @('add', $key, '/v', '/t', '/d', '/f')
            $values[$call.Args[3]] = "$($call.Args[5]) $($call.Args[7])"
        }
        $bytes = 0
        Get-ChildItem -LiteralPath $Dir -File -Recurse | ForEach-Object { $bytes += $_.Length }
        $remove = "REG_SZ `"WindowsPowerShell\v1.0\powershell.exe`" -NoProfile -ExecutionPolicy Bypass -File `"$Dir/uninstall.ps1`""
        $values.Keys | Should -Be @('DisplayName', 'DisplayIcon', 'DisplayVersion', 'Publisher', 'InstallLocation', 'InstallDate',
            'EstimatedSize', 'NoModify', 'NoRepair', 'UninstallString', 'QuietUninstallString')
        $values['DisplayName'] | Should -BeExactly 'REG_SZ Vorlen'
        $values['DisplayIcon'] | Should -BeExactly "REG_SZ $Dir\app\vorlen.exe"
        # The archive's date of the source, and its project as installer/repo.txt names it.
        $values['DisplayVersion'] | Should -BeExactly 'REG_SZ 2025.9.14'
        $values['Publisher'] | Should -BeExactly 'REG_SZ vorlen-port'
        $values['InstallLocation'] | Should -BeExactly "REG_SZ $Dir"
        $values['InstallDate'] | Should -Match '^REG_SZ 20\d{6}$'
        $values['EstimatedSize'] | Should -BeExactly "REG_DWORD $([Math]::Ceiling($bytes / 1KB))"
        $values['NoModify'] | Should -BeExactly 'REG_DWORD 1'
        $values['NoRepair'] | Should -BeExactly 'REG_DWORD 1'
        $values['UninstallString'] | Should -BeExactly $remove
        $values['QuietUninstallString'] | Should -BeExactly "$remove -Quiet"
        [IO.File]::ReadAllBytes((Join-Path $Dir 'uninstall.ps1')) | Should -Be ([IO.File]::ReadAllBytes($UninstallScript))
    }

    It 'ends with the installed message under -NonInteractive, asking nothing and starting nothing' {
        $Run.Lines[-1] | Should -BeExactly $Installed
        $Run.Output | Should -Not -Match ([regex]::Escape($Question))
        Get-Calls $Run 'xdg-open' | Should -BeNullOrEmpty
    }
}

Describe 'the runner' {
    It 'is ASCII and the same whatever the install folder is named: <Case>' -TestCases @(
        @{ Case = 'letters beyond ASCII and beyond most code pages (C:\Users\Łukasz)'; Name = "$([char]0x141)ukasz J$([char]0xFC)rgen" }
        @{ Case = 'a "%", which cmd.exe would expand'; Name = '100% Games' }
    ) {
        param($Name)
        $box = New-Sandbox -Checkout
        $dir = Join-Path $box.Root "$Name/Vorlen"
        $run = Invoke-Setup $box (Get-StandardArguments $box $dir)
        Assert-Exit $run 0
        Get-RunnerNonAscii $dir | Should -BeNullOrEmpty
        Read-Runner $dir | Should -BeExactly (Get-RunnerText $box.Msys)
    }

    # The console here writes ISO-8859-1, as a Western OEM code page would: it has "ü" but no
    # "Ł", which .NET writes as "L".
    It 'holding an MSYS2 root with <Case>' -TestCases @(
        @{ Case = 'a letter of the console''s code page: written in it'; Letter = [char]0xFC; Warns = $false }
        @{ Case = 'a letter the code page lacks: says the game may not start from its shortcut'; Letter = [char]0x141; Warns = $true }
    ) {
        param($Letter, $Warns)
        $box = New-Sandbox -Checkout
        $msys = Join-Path $box.Root "msys $Letter"
        Move-Item -LiteralPath $box.Msys -Destination $msys
        $dir = Join-Path $box.Root 'Games/Vorlen'
        $run = Invoke-Setup $box @('-Nup', $box.Nup, '-Dir', $dir, '-Msys', $msys) -Environment @{ LANG = 'en_US.ISO-8859-1' }
        Assert-Exit $run 0
        $warning = @($run.Lines | Where-Object { $_ -like '`[Vorlen`] the MSYS2 folder * has letters that this PC''s console cannot write, so the game may not start from its shortcut; *' })
        $warning.Count | Should -Be ([int]$Warns)
        $written = Read-Runner $dir ([Text.Encoding]::Latin1)
        if ($Warns) { $written | Should -Not -BeExactly (Get-RunnerText $msys) } else { $written | Should -BeExactly (Get-RunnerText $msys) }
        $run.Lines[-1] | Should -BeExactly $Installed
    }

    It 'installing again into the same folder rewrites the runner and saves both shortcuts again' {
        $box = New-Sandbox -Checkout
        $dir = Join-Path $box.Root 'Games/Vorlen'
        $first = Invoke-Setup $box (Get-StandardArguments $box $dir)
        Assert-Exit $first 0
        # A longer runner from some earlier version: nothing of it may stay behind.
        Set-Content -LiteralPath (Join-Path $dir 'vorlen.cmd') -Value (@('rem old') * 40)
        $again = Invoke-Setup $box (Get-StandardArguments $box $dir)
        Assert-Exit $again 0
        $again.Lines[-1] | Should -BeExactly $Installed
        Read-Runner $dir | Should -BeExactly (Get-RunnerText $box.Msys)
        # The log holds both runs.
        (Get-Calls $again 'shortcut').Count | Should -Be 2
    }

    It 'that cannot be written ends the script with one error line and exit code 1, not "installed"' {
        $box = New-Sandbox -Checkout
        $dir = Join-Path $box.Root 'Games/Vorlen'
        # A folder where the runner goes: no file can be written in its place.
        $null = New-Item -ItemType Directory -Force -Path (Join-Path $dir 'vorlen.cmd')
        $run = Invoke-Setup $box (Get-StandardArguments $box $dir)
        Assert-Exit $run 1
        $run.Lines[-1] | Should -BeExactly "[Vorlen] error: Access to the path '$dir/vorlen.cmd' is denied."
        $run.Output | Should -Not -Match 'installed\. Start the game'
    }
}

Describe 'shortcuts that cannot be made' {
    BeforeAll {
        function Test-NoShortcut($Environment, $Made, $NoDesktop) {
            $box = New-Sandbox -Checkout
            if ($NoDesktop) { Remove-Item -LiteralPath (Join-Path $box.Home 'Desktop') }
            $dir = Join-Path $box.Root 'Games/Vorlen'
            $run = Invoke-Setup $box (Get-StandardArguments $box $dir) -Environment $Environment
            Assert-Exit $run 0
            $file = "$($box.Home)/Desktop\Vorlen.lnk"
            $said = if ($NoDesktop) {
                "[Vorlen] Windows names no desktop folder for this account, so no shortcut is made there; vorlen.cmd in $dir starts the game"
            } else {
                "[Vorlen] could not make the shortcut $file (Unspecified error (Exception from HRESULT: 0x80004005 (E_FAIL))); vorlen.cmd in $dir starts the game"
            }
            if ($Made) {
                $run.Lines[-1] | Should -BeExactly $Installed
                $run.Output | Should -Not -Match 'could not make the shortcut'
                $wsh = Get-Calls $run 'wsh-shortcut'
                $wsh.Count | Should -Be 1
                $wsh[0].Args | Should -Be @($file, "TargetPath=$dir\vorlen.cmd", "WorkingDirectory=$dir",
                    'Description=Native PC port built from your own copy of the game', 'Arguments=')
            } else {
                $run.Lines[-2..-1] | Should -Be @($said, "[Vorlen] installed. Start the game with vorlen.cmd in $dir.")
                # No empty shortcut is left where neither could finish one.
                [IO.File]::Exists($file) | Should -BeFalse
            }
            Read-Runner $dir | Should -BeExactly (Get-RunnerText $box.Msys)
            (Get-Calls $run 'icacls.exe').Count | Should -Be 1
        }
    }

    # The Start menu is left out here (no folder); Said: the lines before the installed one.
    It '<Case>' -TestCases @(
        @{ Case = 'the shell refusing: WScript.Shell makes the shortcut, and the run ends installed'
            Environment = @{ VORLEN_TEST_SHORTCUT_FAIL = '1' }; Made = $true }
    ) {
        Test-NoShortcut @_
    }

    It '<Case>' -TestCases @(
        @{ Case = 'both refusing: said, and the run still ends installed, with the runner in place'
            Environment = @{ VORLEN_TEST_SHORTCUT_FAIL = '1'; VORLEN_TEST_WSH_FAIL = '1' }; Made = $false }
        @{ Case = 'no desktop folder: said, no shortcut anywhere'; Environment = @{}; NoDesktop = $true; Made = $false }
    ) {
        Test-NoShortcut @_
    }
}

Describe 'permissions' {
    It 'icacls failing with <Code>: says so and still ends with "installed" and exit code 0' -TestCases @(
        @{ Code = 5 }
        @{ Code = 1 }    # exit codes are 0 to 255 on Linux; Windows codes beyond that would wrap
    ) {
        param($Code)
        $box = New-Sandbox -Checkout
        $run = Invoke-Setup $box (Get-StandardArguments $box) -Environment @{ VORLEN_TEST_ICACLS_EXIT = "$Code" }
        Assert-Exit $run 0
        $run.Lines[-2..-1] | Should -Be @(
            "[Vorlen] could not set the installation's permissions (icacls $Code); if the game asks for administrator rights, run this installer again without them"
            $Installed)
        $run.Output | Should -Not -Match 'processed file|Access is denied'
    }

    It 'icacls that cannot be started: says why and still ends with "installed" and exit code 0' {
        $box = New-Sandbox -Checkout
        Remove-Item -LiteralPath (Join-Path $box.Root 'bin/icacls.exe')
        $run = Invoke-Setup $box (Get-StandardArguments $box)
        Assert-Exit $run 0
        $run.Lines[-2] | Should -Match "^\[Vorlen\] could not set the installation's permissions \(could not start icacls\.exe: .+\); if the game"
        $run.Lines[-1] | Should -Be $Installed
    }
}

Describe 'the entry in Installed apps' {
    It 'that cannot be written because <Case> is said, and the run still ends installed with exit code 0' -TestCases @(
        @{ Case = 'reg.exe fails'; Exit = '5'; Uninstaller = $true; Reason = 'reg.exe 5'; How = '; uninstall.ps1 in {0} removes it' }
        @{ Case = 'no uninstaller is beside the script'; Exit = '0'; Uninstaller = $false; Reason = 'uninstall.ps1 is not beside this script'; How = '' }
    ) {
        param($Exit, $Uninstaller, $Reason, $How)
        $box = New-Sandbox -Checkout
        if (-not $Uninstaller) { Remove-Item -LiteralPath (Join-Path (Split-Path -Parent $box.Script) 'uninstall.ps1') }
        $dir = Join-Path $box.Root 'Games/Vorlen'
        $run = Invoke-Setup $box (Get-StandardArguments $box $dir) -Environment @{ VORLEN_TEST_REG_EXIT = $Exit }
        Assert-Exit $run 0
        $run.Lines[-2..-1] | Should -Be @(
            "[Vorlen] could not add Vorlen to Installed apps ($Reason)$($How -f $dir)"
            $Installed)
        $run.Output | Should -Not -Match 'ERROR:|completed successfully'
    }
}

Describe 'the closing question' {
    BeforeAll {
        function Test-Answer($Answer, $Starts) {
            $box = New-Sandbox -Checkout
            $dir = Join-Path $box.Root 'My Games/Vorlen'
            $run = Invoke-Setup $box (Get-StandardArguments $box $dir) -ByHand -Answer $Answer
            Assert-Exit $run 0
            $run.Output | Should -Match ([regex]::Escape($Question))
            $run.Output | Should -Match ([regex]::Escape($Installed))
            # The runner is started without waiting for it, so its record may come a moment late.
            $deadline = [DateTime]::UtcNow.AddSeconds($(if ($Starts) { 10 } else { 1 }))
            do {
                $opened = @(Read-Calls $box.Log | Where-Object Name -eq 'xdg-open')
                if ($opened) { break }
                Start-Sleep -Milliseconds 100
            } while ([DateTime]::UtcNow -lt $deadline)
            if ($Starts) {
                $opened.Count | Should -Be 1
                $opened[0].Args | Should -Be @("$dir\vorlen.cmd")
                $opened[0].Env.PWD | Should -BeExactly $dir
            } else {
                $opened | Should -BeNullOrEmpty
            }
        }
    }

    It 'is not asked when PowerShell runs with <Option>' -TestCases @(
        @{ Option = '-noni' }    # any case, any abbreviation
    ) {
        param($Option)
        $box = New-Sandbox -Checkout
        $run = Invoke-Setup $box (Get-StandardArguments $box) -Options @($Option, '-ExecutionPolicy', 'Bypass') -Answer "y`n"
        Assert-Exit $run 0
        $run.Lines[-1] | Should -BeExactly $Installed
        $run.Output | Should -Not -Match ([regex]::Escape($Question))
        Get-Calls $run 'xdg-open' | Should -BeNullOrEmpty
    }

    It 'run by hand, answering <Shown> <Outcome>' -TestCases @(
        @{ Shown = 'an empty line'; Answer = "`n"; Starts = $true; Outcome = 'starts the game' }
        @{ Shown = '"y"'; Answer = "y`n"; Starts = $true; Outcome = 'starts the game' }
    ) {
        Test-Answer @_
    }

    It 'run by hand, answering <Shown> <Outcome>' -TestCases @(
        @{ Shown = '"N"'; Answer = "N`n"; Starts = $false; Outcome = 'does not start it' }
        @{ Shown = '"no"'; Answer = "no`n"; Starts = $false; Outcome = 'does not start it' }
    ) {
        Test-Answer @_
    }
}
