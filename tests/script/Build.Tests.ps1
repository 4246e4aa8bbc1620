# The build: what the script hands the launcher, what it passes on of the launcher's output,
# and how it ends when the launcher fails.

BeforeAll {
    . (Join-Path $PSScriptRoot 'Harness.ps1')

    # What the stand-in launcher prints on its standard output, in order (doubles/python.exe).
    $script:LauncherLines = @(
        '@step tools'
        '[build] cmake -S source -B build'
        '@step check'
        '[build] checking the game file'
        '@step translate'
        '[1/2] Building CXX object tools/translator/main.cpp.o'
        '[2/2] Linking CXX executable translator.exe'
        '@step compile'
        '@progress 40 translating the game''s code'
        '[1/3] Building CXX object game/src/z_actor.cpp.o'
        '[3/3] Linking CXX executable vorlen.exe'
        '@step runtime'
    )
}

Describe 'a successful build' {
    BeforeAll {
        $script:Box = New-Sandbox -Archive
        $script:Run = Invoke-Setup $Box (Get-StandardArguments $Box)
        Assert-Exit $Run 0
        $script:Launch = (Get-Calls $Run 'python.exe')[0]
    }

    It 'runs the launcher once with the source, the game file and the folder' {
        (Get-Calls $Run 'python.exe').Count | Should -Be 1
        $source = $Launch.Args[3]
        $source | Should -BeLike "$($Box.Temp)*vorlen-main"
        $Launch.Args | Should -Be @("$source\installer\launcher.py", 'install', '--source', $source,
            '--nup', $Box.Nup, '--dir', (Join-Path $Box.Root 'Games/Vorlen'))
    }

    It 'goes through the steps in order, the launcher announcing those between "source" and "shortcuts"' {
        Get-Steps $Run | Should -Be @('msys', 'packages', 'source', 'tools', 'check', 'translate', 'compile', 'runtime', 'shortcuts')
    }

    It 'runs the launcher with CLANG64 and MSYS2 first on PATH, MSYSTEM=CLANG64 and unbuffered UTF-8 Python' {
        $Launch.Env.PATH | Should -BeLike "$($Box.Msys)\clang64\bin;$($Box.Msys)\usr\bin;*"
        # ...followed by the PATH the script started with, whole.
        $Launch.Env.PATH | Should -BeLike "*;*$($Box.Root)/no-such-folder:$($Box.Root)/bin:/usr/local/bin:/usr/bin:/bin"
        $Launch.Env.MSYSTEM | Should -BeExactly 'CLANG64'
        $Launch.Env.PYTHONUNBUFFERED | Should -BeExactly '1'
        $Launch.Env.PYTHONIOENCODING | Should -BeExactly 'utf-8'
    }

    It "passes the launcher's output through unchanged and in order" {
        $start = [array]::IndexOf($Run.Lines, $LauncherLines[0])
        $start | Should -BeGreaterThan 0
        $block = @($Run.Lines[$start..($Run.Lines.Count - 1)] | Where-Object { $_ -ne '[build] note: this line goes to the error output' })
        $block[0..($LauncherLines.Count - 1)] | Should -Be $LauncherLines
    }

    It "passes the launcher's error output as plain lines" {
        $Run.Lines | Should -Contain '[build] note: this line goes to the error output'
    }

    It 'says where it installs before the build starts' {
        $said = [array]::IndexOf($Run.Lines, "[Vorlen] installing into $(Join-Path $Box.Root 'Games/Vorlen')")
        $said | Should -BeGreaterThan -1
        $said | Should -BeLessThan ([array]::IndexOf($Run.Lines, '@step tools'))
    }
}

Describe "the script's own lines" {
    # The console here writes ISO-8859-1, as a Western OEM code page would: it has no "L" with a
    # stroke, which Write-Host would write as "?" into the pipe.
    It 'reach the pipe as UTF-8 bytes, whatever the console''s code page, from the first byte on' {
        $box = New-Sandbox -Checkout -Account "$([char]0x141)ukasz M$([char]0xFC)ller"
        $run = Invoke-Setup $box @('-Nup', $box.Nup, '-Msys', $box.Msys) -Environment @{ LANG = 'de_DE.ISO-8859-1' }
        Assert-Exit $run 0
        $hex = [BitConverter]::ToString($run.Bytes)
        $said = [Text.Encoding]::UTF8.GetBytes("`n[Vorlen] installing into $(Join-Path $box.AppData 'vorlen')`n")
        $hex.Contains([BitConverter]::ToString($said)) | Should -BeTrue -Because $run.Output
        $hex | Should -BeLike "$([BitConverter]::ToString([Text.Encoding]::ASCII.GetBytes("@step msys`n")))*"
    }
}

Describe 'a build with -Dlss' {
    It 'adds --dlss, and nothing else, to the launcher' {
        $box = New-Sandbox -Checkout
        $run = Invoke-Setup $box ((Get-StandardArguments $box) + '-Dlss')
        Assert-Exit $run 0
        $launch = Get-Calls $run 'python.exe'
        $launch.Count | Should -Be 1
        $source = $launch[0].Args[3]
        $launch[0].Args | Should -Be @("$source\installer\launcher.py", 'install', '--source', $source,
            '--nup', $box.Nup, '--dir', (Join-Path $box.Root 'Games/Vorlen'), '--dlss')
        Get-Steps $run | Should -Be @('msys', 'packages', 'source', 'tools', 'dlss', 'check', 'translate', 'compile', 'runtime', 'shortcuts')
    }
}

Describe 'antivirus and files in use' {
    # Said: how the last line goes on after "[Vorlen] error: ".
    It '<Case>: one line naming the file, exit code 1, no shortcuts stage' -TestCases @(
        @{ Case = 'a file in use, in the player''s language (Python''s WinError 32)'; Environment = @{ VORLEN_TEST_LAUNCHER_EXIT = '1'; VORLEN_TEST_LAUNCHER_SAYS = 'in-use' }
            Said = 'C:\Games\Vorlen\build\game.pdb is in use by another program: antivirus scanning it, OneDrive syncing it, or the game still running; close the game, wait a minute and Install again' }
        @{ Case = 'the compiler denied its output'; Environment = @{ VORLEN_TEST_LAUNCHER_EXIT = '1'; VORLEN_TEST_LAUNCHER_SAYS = 'denied' }
            Said = "build/game/src/z_actor.cpp.obj was blocked: antivirus most likely blocked or removed it; look in Windows Security's protection history, allow the file, and Install again" }
        @{ Case = 'the game gone once built'; Environment = @{ VORLEN_TEST_GAME_QUARANTINED = '1' }
            Said = "the game {dir}\app\vorlen.exe, which the build made, is gone: antivirus most likely removed it; look in Windows Security's protection history, allow the file, and Install again" }
    ) {
        param($Environment, $Said)
        $box = New-Sandbox -Checkout
        $dir = Join-Path $box.Root 'Games/Vorlen'
        $run = Invoke-Setup $box (Get-StandardArguments $box $dir) -Environment $Environment
        Assert-Exit $run 1
        $run.Lines[-1] | Should -BeExactly "[Vorlen] error: $($Said.Replace('{dir}', $dir))"
        Get-Steps $run | Should -Not -Contain 'shortcuts'
        Get-Calls $run 'shortcut' | Should -BeNullOrEmpty
    }
}

Describe 'a failed build' {
    It 'launcher exit code <Code>: "the build failed", exit code 1, no shortcuts stage' -TestCases @(
        @{ Code = 2 }
        @{ Code = 1 }
    ) {
        param($Code)
        $box = New-Sandbox -Checkout
        $dir = Join-Path $box.Root 'Games/Vorlen'
        $run = Invoke-Setup $box (Get-StandardArguments $box $dir) -Environment @{ VORLEN_TEST_LAUNCHER_EXIT = "$Code" }
        Assert-Exit $run 1
        $run.Lines[-1] | Should -BeExactly '[Vorlen] the build failed; see the messages above'
        $run.Lines | Should -Contain '[build] error: the compiler stopped'
        Get-Steps $run | Should -Not -Contain 'shortcuts'
        $run.Output | Should -Not -Match 'installed\. Start the game'
        Get-Calls $run 'shortcut' | Should -BeNullOrEmpty
        Get-Calls $run 'icacls.exe' | Should -BeNullOrEmpty
        Test-Path -LiteralPath (Join-Path $dir 'vorlen.cmd') | Should -BeFalse
    }
}
