# The closing stage: the runner command file, the shortcuts, the permissions and the question.

BeforeAll {
    . (Join-Path $PSScriptRoot 'Harness.ps1')

    # The eight lines of vorlen.cmd for an MSYS2 root and an install folder, as the script
    # composes them (Windows paths joined with "\"; each "%" of a path doubled for cmd.exe).
    function Get-RunnerLines([string]$Msys, [string]$Dir) {
        $Msys = $Msys.Replace('%', '%%')
        $Dir = $Dir.Replace('%', '%%')
        @(
            '@echo off'
            'rem vorlen: checks for updates, then starts the game.'
            "set `"PATH=$Msys\clang64\bin;$Msys\usr\bin;%PATH%`""
            'set MSYSTEM=CLANG64'
            "set `"VORLEN_PORT_HOME=$Dir`""
            "cd /d `"$Dir`""
            "`"$Msys\clang64\bin\python.exe`" `"$Dir\source\installer\launcher.py`" run %*"
            'if errorlevel 1 pause'
        )
    }
    # A batch file's lines end with CR LF.
    function Get-RunnerText([string]$Msys, [string]$Dir) {
        ((Get-RunnerLines $Msys $Dir) -join "`r`n") + "`r`n"
    }
    # On Windows the runner is written in the OEM code page; the console's here is UTF-8. A
    # byte-order mark would stay in the text, as "\uFEFF".
    function Read-Runner([string]$Dir) {
        [Text.UTF8Encoding]::new($false, $true).GetString([IO.File]::ReadAllBytes((Join-Path $Dir 'vorlen.cmd')))
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

    It 'writes the runner as exactly its eight lines, every path within double quotes' {
        Read-Runner $Dir | Should -BeExactly (Get-RunnerText $Box.Msys $Dir)
    }

    It 'writes "@step shortcuts" after the launcher''s steps, as the last marker' {
        (Get-Steps $Run)[-1] | Should -Be 'shortcuts'
        [array]::IndexOf($Run.Lines, '@step shortcuts') | Should -BeGreaterThan ([array]::IndexOf($Run.Lines, '@step runtime'))
    }

    It 'saves Vorlen.lnk in the Start menu programs folder, then on the desktop, pointing at the runner' {
        $links = Get-Calls $Run 'shortcut'
        $links.Count | Should -Be 2
        $links[0].Args[0] | Should -BeExactly "$([Environment]::GetFolderPath('Programs'))\Vorlen.lnk"
        $links[1].Args[0] | Should -BeExactly "$($Box.Home)/Desktop\Vorlen.lnk"
        foreach ($link in $links) {
            $link.Args[1..7] | Should -Be @(
                "TargetPath=$Dir\vorlen.cmd"
                "WorkingDirectory=$Dir"
                'Description=Native PC port built from your own copy of the game'
                # Left as a new shortcut has them: no arguments, icon, window state or key.
                'Arguments='
                'IconLocation=,0'
                'WindowStyle=1'
                'Hotkey=')
        }
    }

    It "grants the user full control and the Users group modify rights on the whole tree, quietly" {
        $icacls = Get-Calls $Run 'icacls'
        $icacls.Count | Should -Be 1
        $icacls[0].Args | Should -Be @($Dir, '/grant', 'Test Player:(OI)(CI)F', '/grant', '*S-1-5-32-545:(OI)(CI)M', '/T', '/C', '/Q')
        $Run.Output | Should -Not -Match 'processed file|Access is denied'
        $Run.Output | Should -Not -Match 'permissions'
    }

    It 'ends with the installed message under -NonInteractive, asking nothing and starting nothing' {
        $Run.Lines[-1] | Should -BeExactly $Installed
        $Run.Output | Should -Not -Match ([regex]::Escape($Question))
        Get-Calls $Run 'xdg-open' | Should -BeNullOrEmpty
    }
}

Describe 'the runner' {
    It 'works with <Case> in the folder name' -TestCases @(
        @{ Case = 'letters beyond ASCII (a profile folder such as C:\Users\Jürgen)'; Name = "J$([char]0xFC)rgen" }
        @{ Case = 'a "%", which cmd.exe would expand'; Name = '100% Games' }
    ) {
        param($Name)
        $box = New-Sandbox -Checkout
        $dir = Join-Path $box.Root "$Name/Vorlen"
        $run = Invoke-Setup $box (Get-StandardArguments $box $dir)
        Assert-Exit $run 0
        Read-Runner $dir | Should -BeExactly (Get-RunnerText $box.Msys $dir)
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
        Read-Runner $dir | Should -BeExactly (Get-RunnerText $box.Msys $dir)
        # The log holds both runs.
        (Get-Calls $again 'shortcut').Count | Should -Be 4
    }

    It 'a <What> that cannot be written ends the script with one error line and exit code 1, not "installed"' -TestCases @(
        @{ What = 'shortcut'; Said = 'Unable to save shortcut "{programs}\Vorlen.lnk".' }
        @{ What = 'runner'; Said = "Access to the path '{dir}/vorlen.cmd' is denied." }
    ) {
        param($What, $Said)
        $box = New-Sandbox -Checkout
        $dir = Join-Path $box.Root 'Games/Vorlen'
        # A folder where the runner goes: no file can be written in its place.
        if ($What -eq 'runner') { $null = New-Item -ItemType Directory -Force -Path (Join-Path $dir 'vorlen.cmd') }
        $run = Invoke-Setup $box (Get-StandardArguments $box $dir) -Environment @{ VORLEN_TEST_SHORTCUT_FAIL = "$([int]($What -eq 'shortcut'))" }
        Assert-Exit $run 1
        $run.Lines[-1] | Should -BeExactly ('[Vorlen] error: ' + $Said.Replace('{programs}', [Environment]::GetFolderPath('Programs')).Replace('{dir}', $dir))
        $run.Output | Should -Not -Match 'installed\. Start the game'
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
}

Describe 'the closing question' {
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
        @{ Shown = '"N"'; Answer = "N`n"; Starts = $false; Outcome = 'does not start it' }
        @{ Shown = '"no"'; Answer = "no`n"; Starts = $false; Outcome = 'does not start it' }
    ) {
        param($Answer, $Starts)
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
