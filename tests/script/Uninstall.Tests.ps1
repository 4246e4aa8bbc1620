# The uninstaller: script/uninstall.ps1 as the installation holds it, run for real (its copy in
# the temporary folder included), with only the outside world replaced (see Harness.ps1).

BeforeAll {
    . (Join-Path $PSScriptRoot 'Harness.ps1')

    $script:Key = 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorlen'

    # Runs the uninstaller in an install folder as Installed apps starts it, with -Quiet unless
    # told otherwise; -Copy starts the copy's part alone, on that folder, as the first start
    # would. The doubles' log is emptied first, so the result's calls are this run's.
    function Invoke-Uninstall {
        param($Box, [string]$Dir, [string[]]$Arguments = @('-Quiet'), [hashtable]$Environment = @{},
            [switch]$Copy, [switch]$ByHand, [string]$Answer = '')
        if (Test-Path -LiteralPath $Box.Log) { Remove-Item -LiteralPath $Box.Log }
        if ($Copy) { $Arguments += @('-Folder', $Dir) }
        $script = [IO.Path]::Combine($Dir, 'uninstall.ps1')
        if (-not [IO.File]::Exists($script)) { $script = Join-Path $Box.Root 'setup/uninstall.ps1' }
        Invoke-Setup $Box $Arguments -ScriptPath $script -Environment $Environment -ByHand:$ByHand -Answer $Answer
    }

    # Everything under a folder, as paths relative to it, with each file's text.
    function Get-Tree([string]$Dir) {
        @(Get-ChildItem -LiteralPath $Dir -Force -Recurse | Sort-Object FullName | ForEach-Object {
                $text = if ($_.PSIsContainer) { '' } else { [IO.File]::ReadAllText($_.FullName) }
                "$($_.FullName.Substring($Dir.Length)) $text"
            })
    }

    # The target a shortcut file holds (as the stand-in shell saves it: after 80 bytes).
    function Read-ShortcutTarget([string]$File) {
        $bytes = [IO.File]::ReadAllBytes($File)
        [Text.Encoding]::UTF8.GetString($bytes, 80, $bytes.Length - 80)
    }

    function Install($Box, [string]$Dir, [hashtable]$Environment = @{}) {
        $run = Invoke-Setup $Box (Get-StandardArguments $Box $Dir) -Environment $Environment
        Assert-Exit $run 0
        $run
    }
}

Describe 'the first of two installations, removed with -Quiet' {
    BeforeAll {
        $script:Box = New-Sandbox -Checkout
        $script:First = Join-Path $Box.Root 'Games/Vorlen [1]'
        $script:Second = Join-Path $Box.Root 'Games/Vorlen 2'
        $script:Desktop = "$($Box.Home)/Desktop\Vorlen.lnk"
        $null = Install $Box $First
        # What the game and the player put there later, and a link inside the installation to
        # a folder of the player's, whose files must survive its removal.
        $null = New-Item -ItemType Directory -Path (Join-Path $First 'saves'), (Join-Path $Box.Root 'Player data')
        Set-Content -LiteralPath (Join-Path $First 'saves/slot1.sav') -Value 'zelda'
        Set-Content -LiteralPath (Join-Path $First 'my notes.txt') -Value 'mine'
        Set-Content -LiteralPath (Join-Path $Box.Root 'Player data/keep.txt') -Value 'mine too'
        $null = New-Item -ItemType SymbolicLink -Path (Join-Path $First 'source/linked') -Target (Join-Path $Box.Root 'Player data')
        # A later installation elsewhere: the shortcuts and the entry are its own now.
        $null = Install $Box $Second
        $script:Msys = Get-Tree $Box.Msys
        # The copy's part alone; the start from the installation is the next Describe's.
        $script:RunFirst = Invoke-Uninstall $Box $First -Copy
        $location = Join-Path $Box.Registry 'InstallLocation'
        $script:AfterFirst = @{
            Desktop  = if ([IO.File]::Exists($Desktop)) { Read-ShortcutTarget $Desktop } else { 'no shortcut' }
            Location = if ([IO.File]::Exists($location)) { [IO.File]::ReadAllText($location) } else { 'no entry' }
        }
    }

    It 'removes its own entries and keeps what the game and the player put there' {
        Assert-Exit $RunFirst 0
        Get-Tree $First | Should -Be @("/my notes.txt mine`n", '/saves ', "/saves/slot1.sav zelda`n")
        Get-Tree (Join-Path $Box.Root 'Player data') | Should -Be @("/keep.txt mine too`n")
        $RunFirst.Lines[-1] | Should -BeExactly "[Vorlen] left in ${First}: my notes.txt, saves"
    }

    It 'leaves the later installation''s shortcut and entry, and MSYS2, as they were' {
        $AfterFirst.Desktop | Should -BeExactly "$Second\vorlen.cmd"
        $AfterFirst.Location | Should -BeExactly $Second
        Get-Calls $RunFirst 'reg.exe' | Should -BeNullOrEmpty
        Get-Tree $Box.Msys | Should -Be $Msys
        $RunFirst.Lines[-2] | Should -BeExactly "[Vorlen] MSYS2 in $($Box.Msys) and its packages stay, for other programs that use them; to remove MSYS2 as well, uninstall it in Settings > Apps > Installed apps."
    }
}

Describe 'the later installation, removed with -Quiet from the installation' {
    BeforeAll {
        $script:Box = New-Sandbox -Checkout
        $script:Dir = Join-Path $Box.Root 'Games/Vorlen 2'
        $script:Desktop = "$($Box.Home)/Desktop\Vorlen.lnk"
        $null = Install $Box $Dir
        $script:Run = Invoke-Uninstall $Box $Dir
        $script:Temp = @(Get-ChildItem -LiteralPath $Box.Temp -Force | ForEach-Object Name)
    }

    It 'works from a copy in the temporary folder, which it removes' {
        $started = @(Get-Calls $Run 'powershell.exe')
        $started.Count | Should -Be 1
        $started[0].Args[0..3] | Should -Be @('-NoProfile', '-ExecutionPolicy', 'Bypass', '-File')
        $started[0].Args[4] | Should -Match ('^' + [regex]::Escape($Box.Temp) + '/vorlen-uninstall-[0-9a-f]{8}\.ps1$')
        $started[0].Args[5..7] | Should -Be @('-Folder', $Dir, '-Quiet')
        $Temp | Should -BeNullOrEmpty
    }

    It 'removes it whole: its folder, its shortcut, and its entry last' {
        Assert-Exit $Run 0
        [IO.Directory]::Exists($Dir) | Should -BeFalse
        [IO.File]::Exists($Desktop) | Should -BeFalse
        [IO.Directory]::Exists($Box.Registry) | Should -BeFalse
        $Run.Lines[-3] | Should -BeExactly '[Vorlen] Vorlen is removed.'
        $Run.Lines[-1] | Should -BeExactly "[Vorlen] left: nothing; $Dir is removed"
        $names = @($Run.Calls | ForEach-Object Name)
        $names[-1] | Should -Be 'reg.exe'
        $Run.Calls[-1].Args | Should -Be @('delete', $Key, '/f')
        $names | Should -Contain 'rename'
        $names | Should -Contain 'read-shortcut'
        @($names | Where-Object { $_ -eq 'reg.exe' }).Count | Should -Be 1
    }
}

Describe 'refusals' {
    # Each folder holds the uninstaller and, but for the first, a record that names what is
    # there: whatever it says, nothing may go.
    It 'on <Case>: removes nothing and says why' -TestCases @(
        @{ Case = 'a folder without the record'; Folder = 'Games/Vorlen'; Record = $false; Says = 'holds no record of a Vorlen installation (uninstall.txt)' }
        @{ Case = 'the root of a drive'; Folder = '/'; Record = $false; Says = 'is the root of a drive' }
        @{ Case = 'the profile folder'; Folder = 'home'; Record = $true; Says = 'is, or holds, a folder of Windows or of your profile' }
        @{ Case = 'a known folder (the desktop)'; Folder = 'home/Desktop'; Record = $true; Says = 'is, or holds, a folder of Windows or of your profile' }
    ) {
        param($Folder, $Record, $Says)
        $box = New-Sandbox
        $dir = if ($Folder -eq '/') { '/' } else { Join-Path $box.Root $Folder }
        if ($dir -ne '/') {
            $null = New-Item -ItemType Directory -Force -Path (Join-Path $dir 'app')
            Set-Content -LiteralPath (Join-Path $dir 'app/vorlen.exe') -Value 'game'
            Set-Content -LiteralPath (Join-Path $dir 'notes.txt') -Value 'mine'
            Copy-Item -LiteralPath (Join-Path $box.Root 'setup/uninstall.ps1') -Destination (Join-Path $dir 'uninstall.ps1')
            if ($Record) {
                $names = @(Get-ChildItem -LiteralPath $dir -Force | ForEach-Object { "made $($_.Name)" })
                Set-Content -LiteralPath (Join-Path $dir 'uninstall.txt') -Value (@('# record', "msys $($box.Msys)") + $names + 'made uninstall.txt')
            }
        }
        $before = if ($dir -ne '/') { Get-Tree $dir }
        $run = Invoke-Uninstall $box $dir -Copy
        Assert-Exit $run 1
        $run.Lines[-1] | Should -BeLike "``[Vorlen``] nothing was removed: *$Says*"
        if ($dir -ne '/') { Get-Tree $dir | Should -Be $before }
        Get-Calls $run 'reg.exe' | Should -BeNullOrEmpty
    }
}

Describe 'in use' {
    BeforeAll {
        function Test-InUse($Busy, $Held, $Renames) {
            $box = New-Sandbox -Checkout
            $dir = Join-Path $box.Root 'Games/Vorlen'
            $null = Install $box $dir
            $game = $null
            if (-not $Held) {
                # A program that runs from the installation, as the game does.
                Copy-Item -LiteralPath '/bin/sleep' -Destination (Join-Path $dir 'app/vorlen.exe') -Force
                $game = [Diagnostics.Process]::Start((Join-Path $dir 'app/vorlen.exe'), '60')
            }
            try {
                $before = @(Get-Tree $dir) + @(Get-Tree "$($box.Home)/Desktop") + @(Get-Tree $box.Registry)
                $run = Invoke-Uninstall $box $dir -Copy -Environment @{ VORLEN_TEST_IN_USE = $Held }
            } finally {
                if ($game) { $game.Kill() }
            }
            Assert-Exit $run 1
            @($run.Lines | Where-Object { $_ -eq "[Vorlen] $Busy in $dir is in use; close the game. Trying again in a few seconds." }).Count | Should -Be 3
            $run.Lines[-1] | Should -BeExactly "[Vorlen] error: $Busy in $dir is still in use, so nothing was removed; close the game, then uninstall Vorlen again"
            (Get-Calls $run 'in-use').Count | Should -Be $(if ($Held) { 4 } else { 0 })
            (Get-Calls $run 'rename').Count | Should -Be $Renames
            @(Get-Calls $run 'sleep' | ForEach-Object { $_.Args -join ' ' }) | Should -Be @('-Seconds 2', '-Seconds 2', '-Seconds 2')
            @(Get-Tree $dir) + @(Get-Tree "$($box.Home)/Desktop") + @(Get-Tree $box.Registry) | Should -Be $before
            Get-Calls $run 'reg.exe' | Should -BeNullOrEmpty
        }
    }

    It '<Case> is said, tried three times more, and then nothing is removed and the entry stays' -TestCases @(
        @{ Case = 'the game running'; Busy = 'app\vorlen.exe'; Held = ''; Renames = 0 }
    ) {
        Test-InUse @_
    }

    It '<Case> is said, tried three times more, and then nothing is removed and the entry stays' -TestCases @(
        # What is renamed aside before "source" is found in use (app, main.img) is put back.
        @{ Case = 'a file held open'; Busy = 'source'; Held = 'source'; Renames = 8 }
    ) {
        Test-InUse @_
    }
}

Describe 'the question' {
    It 'says what goes and what stays; No is the default, Yes removes' {
        $box = New-Sandbox -Checkout
        $dir = Join-Path $box.Root 'Games/Vorlen'
        $null = Install $box $dir
        Set-Content -LiteralPath (Join-Path $dir 'my notes.txt') -Value 'mine'
        $before = Get-Tree $dir
        $no = Invoke-Uninstall $box $dir -Arguments @() -Copy -ByHand -Answer "`n"
        Assert-Exit $no 1
        $no.Output | Should -Match ([regex]::Escape("[Vorlen] This removes Vorlen from ${dir}: app, main.img, source, vorlen.cmd, the uninstaller, and the shortcuts that start it."))
        $no.Output | Should -Match ([regex]::Escape('[Vorlen] It keeps everything else in that folder: my notes.txt.'))
        $no.Output | Should -Match ([regex]::Escape('Remove Vorlen? [y/N]'))
        Get-Tree $dir | Should -Be $before
        $yes = Invoke-Uninstall $box $dir -Arguments @() -Copy -ByHand -Answer "y`n"
        Assert-Exit $yes 0
        Get-Tree $dir | Should -Be @("/my notes.txt mine`n")
    }
}

Describe 'the record' {
    It 'counts what a failed run left as made by the run that finishes, and what was there before as the player''s' {
        $box = New-Sandbox -Checkout
        $dir = Join-Path $box.Root 'Games/Vorlen'
        $null = New-Item -ItemType Directory -Path $dir
        Set-Content -LiteralPath (Join-Path $dir 'notes.txt') -Value 'mine'
        $failed = Invoke-Setup $box (Get-StandardArguments $box $dir) -Environment @{ VORLEN_TEST_LAUNCHER_EXIT = '2' }
        Assert-Exit $failed 1
        # What the stopped build had made by then.
        $null = New-Item -ItemType Directory -Path (Join-Path $dir 'build')
        $null = Install $box $dir
        [IO.File]::ReadAllLines((Join-Path $dir 'uninstall.txt')) | Should -Be @(
            '# What the Vorlen installation made in this folder: uninstall.ps1 removes these entries and nothing else.'
            "msys $($box.Msys)"
            'made app', 'made build', 'made main.img', 'made source', 'made uninstall.ps1', 'made uninstall.txt', 'made vorlen.cmd')
    }
}
