# The install folder: -Dir, the default installation, and the folder dialog.

BeforeAll {
    . (Join-Path $PSScriptRoot 'Harness.ps1')

    function Get-LauncherDir($Run) {
        $a = (Get-Calls $Run 'python.exe')[0].Args
        $a[[array]::IndexOf($a, '--dir') + 1]
    }
    # The script's messages about the folder and the dialog ("~ folder-dialog"), in order.
    function Get-FolderLines($Run) {
        @($Run.Lines | Where-Object { $_ -like '~ folder-dialog' -or $_ -like '`[Vorlen`] installing into *' -or $_ -like '`[Vorlen`] an installation *' })
    }
    function New-Installation([string]$Folder, [string]$Marker) {
        $file = Join-Path $Folder $Marker
        $null = New-Item -ItemType Directory -Force -Path (Split-Path -Parent $file)
        [IO.File]::WriteAllBytes($file, [byte[]](0))
    }
}

Describe '-Dir given' {
    BeforeAll {
        function Test-DirGiven($Dir, $Absolute, $Typed) {
            $box = New-Sandbox -Checkout
            $expected = Join-Path $box.Root $Dir
            $given = $(if ($Absolute) { $expected } else { $Dir }) + $Typed
            $run = Invoke-Setup $box @('-Nup', $box.Nup, '-Dir', $given, '-Msys', $box.Msys)
            Assert-Exit $run 0
            Get-FolderLines $run | Should -Be @("[Vorlen] installing into $expected")
            Get-LauncherDir $run | Should -BeExactly $expected
            Test-Path -LiteralPath (Join-Path $expected 'vorlen.cmd') | Should -BeTrue
            Get-Calls $run 'folder-dialog' | Should -BeNullOrEmpty
        }

        function Test-Refused($Dir, $Said) {
            $box = New-Sandbox -Checkout
            $run = Invoke-Setup $box @('-Nup', $box.Nup, '-Dir', $Dir, '-Msys', $box.Msys)
            Assert-Exit $run 1
            $run.Lines | Should -Be @("[Vorlen] $Said")
            $run.Calls | Should -BeNullOrEmpty
        }
    }

    # Typed: what follows the folder's name on the command line.
    It 'installs into <Case> without asking' -TestCases @(
        @{ Case = 'an absolute folder with spaces and square brackets'; Dir = 'Games [PC]/Vorlen Game'; Absolute = $true; Typed = '' }
        @{ Case = 'a relative folder, made absolute from the current folder'; Dir = 'rel dir/Vorlen'; Absolute = $false; Typed = '' }
    ) {
        Test-DirGiven @_
    }

    It 'installs into <Case> without asking' -TestCases @(
        @{ Case = 'a folder typed with a closing backslash, without it'; Dir = 'My Games'; Absolute = $true; Typed = '\' }
        @{ Case = 'a relative folder typed with closing separators, without them'; Dir = 'My Games'; Absolute = $false; Typed = '/\' }
    ) {
        Test-DirGiven @_
    }

    # Checked before MSYS2 is touched. By hand, -Dir "D:\My Games\" arrives as 'D:\My Games"'.
    It 'refuses <Dir>: says why, exit code 1, before anything is set up' -TestCases @(
        @{ Dir = 'C:\'; Said = 'cannot install into the root of a drive (C:\); choose a folder on it' }
        @{ Dir = 'D:'; Said = 'cannot install into the root of a drive (D:); choose a folder on it' }
        @{ Dir = '/'; Said = 'cannot install into the root of a drive (/); choose a folder on it' }    # the root here, as "\" is on Windows
    ) {
        Test-Refused @_
    }

    It 'refuses <Dir>: says why, exit code 1, before anything is set up' -TestCases @(
        @{ Dir = 'D:\My Games"'; Said = 'error: the folder D:\My Games" holds a double quote; leave out the backslash before the closing quote: -Dir "D:\My Games", not -Dir "D:\My Games\"' }
        @{ Dir = 'Games/a|b'; Said = 'error: the folder Games/a|b holds a character that Windows allows in no name (< > | * ? or a : after the drive); choose another folder' }
        @{ Dir = 'C:\Games\x:y'; Said = 'error: the folder C:\Games\x:y holds a character that Windows allows in no name (< > | * ? or a : after the drive); choose another folder' }
        @{ Dir = "Games`tx"; Said = "error: the folder Games`tx holds a character that Windows allows in no name (< > | * ? or a : after the drive); choose another folder" }
    ) {
        Test-Refused @_
    }

    # The checkout's deepest file, tools/build_game.py, is 19 characters long; of 250, a margin
    # of 10 and 48 for the object files' own folders and suffix leave 173 for the folder.
    It 'of <Length> characters <Outcome>' -TestCases @(
        @{ Length = 173; Refused = $false; Outcome = 'is long enough for the build' }
        @{ Length = 174; Refused = $true; Outcome = 'is too long for the build: stops before the build, naming the longest it may be' }
    ) {
        param($Length, $Refused)
        $box = New-Sandbox -Checkout
        $dir = Join-Path $box.Root ('d' * ($Length - $box.Root.Length - 1))
        $dir.Length | Should -Be $Length
        $run = Invoke-Setup $box @('-Nup', $box.Nup, '-Dir', $dir, '-Msys', $box.Msys)
        if ($Refused) {
            Assert-Exit $run 1
            $run.Lines[-1] | Should -BeExactly ("[Vorlen] error: the folder $dir is too long for the build (174 characters): its files would pass " +
                "Windows' path limit; choose a folder of at most 173 characters, such as C:\Games\Vorlen")
            Get-Calls $run 'python.exe' | Should -BeNullOrEmpty
        } else {
            Assert-Exit $run 0
        }
    }

    It 'is used even when the default folder holds an installation' {
        $box = New-Sandbox -Checkout
        New-Installation (Join-Path $box.AppData 'vorlen') 'main.img'
        $dir = Join-Path $box.Root 'Elsewhere'
        $run = Invoke-Setup $box @('-Nup', $box.Nup, '-Dir', $dir, '-Msys', $box.Msys)
        Assert-Exit $run 0
        Get-FolderLines $run | Should -Be @("[Vorlen] installing into $dir")
    }
}

Describe 'no -Dir, the default folder (LOCALAPPDATA\vorlen) holding an installation' {
    It 'updates it there without asking when it holds <Marker>' -TestCases @(
        @{ Marker = 'main.img' }
        @{ Marker = 'app/vorlen.exe' }
    ) {
        param($Marker)
        $box = New-Sandbox -Checkout
        $default = Join-Path $box.AppData 'vorlen'
        New-Installation $default $Marker
        $run = Invoke-Setup $box @('-Nup', $box.Nup, '-Msys', $box.Msys)
        Assert-Exit $run 0
        Get-FolderLines $run | Should -Be @(
            "[Vorlen] an installation is already in $($box.AppData)\vorlen, so it is updated there"
            "[Vorlen] installing into $default")
        Get-LauncherDir $run | Should -BeExactly $default
    }
}

Describe 'no -Dir, under the installer' {
    # Hidden, a dialog would wait unseen for ever.
    It 'installs into the default folder without a dialog' {
        $box = New-Sandbox -Checkout
        $run = Invoke-Setup $box @('-Nup', $box.Nup, '-Msys', $box.Msys) -Environment @{ VORLEN_TEST_FOLDER = 'ok:' + $box.Root }
        Assert-Exit $run 0
        Get-FolderLines $run | Should -Be @("[Vorlen] installing into $(Join-Path $box.AppData 'vorlen')")
        Get-Calls $run 'folder-dialog' | Should -BeNullOrEmpty
    }
}

Describe 'no -Dir, folder dialog, by hand' {
    BeforeAll {
        function Test-FolderDialog($Prepare, $Answer, $Expect) {
            $box = New-Sandbox -Checkout
            if ($Prepare) { New-Installation $box.Root $Prepare }
            $answer = if ($Answer -and $Answer -ne 'ok:') { 'ok:' + (Join-Path $box.Root $Answer.Substring(3)) } else { $Answer }
            $expected = if ($Expect -eq '{default}') { Join-Path $box.AppData 'vorlen' } else { Join-Path $box.Root $Expect }
            $run = Invoke-Setup $box @('-Nup', $box.Nup, '-Msys', $box.Msys) -Environment @{ VORLEN_TEST_FOLDER = $answer } -ByHand -Answer "n`n"
            Assert-Exit $run 0
            Get-FolderLines $run | Should -Be @('~ folder-dialog', "[Vorlen] installing into $expected")
            $dialog = Get-Calls $run 'folder-dialog'
            $dialog.Count | Should -Be 1
            $dialog[0].Args | Should -Be @(
                "Choose where to install Vorlen (a Vorlen folder is made there). Cancel: $($box.AppData)\vorlen"
                'ShowNewFolderButton=True')
            Get-LauncherDir $run | Should -BeExactly $expected
        }
    }

    # Answer: what the dialog returns; Expect: the folder installed into, relative to the
    # sandbox ("{default}" is LOCALAPPDATA\vorlen).
    It '<Case>' -TestCases @(
        @{ Case = 'picking an installation (holding app\vorlen.exe) installs into it'
            Prepare = 'My Games [PC]/app/vorlen.exe'; Answer = 'ok:My Games [PC]'; Expect = 'My Games [PC]' }
        @{ Case = 'picking any other folder installs into its Vorlen subfolder'
            Prepare = 'D Games/readme.txt'; Answer = 'ok:D Games'; Expect = 'D Games/Vorlen' }
        @{ Case = 'confirming without a folder installs into the default folder'
            Prepare = $null; Answer = 'ok:'; Expect = '{default}' }
    ) {
        Test-FolderDialog @_
    }

    It '<Case>' -TestCases @(
        @{ Case = 'cancelling installs into the default folder'
            Prepare = $null; Answer = $null; Expect = '{default}' }
        @{ Case = 'a default folder without main.img or app\vorlen.exe still asks'
            Prepare = 'appdata/vorlen/source/installer/launcher.py'; Answer = $null; Expect = '{default}' }
        @{ Case = 'a default folder whose main.img is a folder still asks'
            Prepare = 'appdata/vorlen/main.img/x'; Answer = $null; Expect = '{default}' }
    ) {
        Test-FolderDialog @_
    }
}
