# The script's first stages: the platform check, setting up MSYS2 and its packages.

BeforeAll {
    . (Join-Path $PSScriptRoot 'Harness.ps1')
    $script:Packages = 'clang', 'lld', 'cmake', 'ninja', 'python', 'pkgconf', 'sdl3', 'opus', 'ffmpeg',
        'vulkan-loader', 'vulkan-headers', 'fmt', 'zstd', 'lz4'
    $script:PackageCommand = 'pacman -S --needed --noconfirm ' + (($Packages | ForEach-Object { "mingw-w64-clang-x86_64-$_" }) -join ' ')
    # As the shell runs it: failing when pacman fails, and keeping a copy of what it says.
    $script:PackageShell = "set -o pipefail; $PackageCommand 2>&1 | tee /var/log/vorlen-msys.log"
}

Describe 'platform check' {
    It 'stops <Case> before anything else: one line, exit code 1' -TestCases @(
        @{ Case = 'on 32-bit Windows'; Environment = @{ PROCESSOR_ARCHITECTURE = 'x86' }; Said = 'a 64-bit Windows is required' }
        # The check itself must run in that mode, or its error would tell a player nothing.
        @{ Case = 'in Constrained Language Mode'; Environment = @{ VORLEN_TEST_LANGUAGE_MODE = 'ConstrainedLanguage' }
            Said = 'error: this PC lets PowerShell run scripts only in a restricted mode, set by its administrator, and the installation cannot run in it; ask the administrator, or install on another PC' }
    ) {
        param($Environment, $Said)
        $box = New-Sandbox -Checkout
        $run = Invoke-Setup $box (Get-StandardArguments $box) -Environment $Environment
        Assert-Exit $run 1
        $run.Lines | Should -Be @("[Vorlen] $Said")
        $run.Calls | Should -BeNullOrEmpty
    }

    It 'goes on under <Case>' -TestCases @(
        @{ Case = '64-bit PowerShell on 64-bit Windows'; Arch = 'AMD64'; Wow = $null }
        @{ Case = '32-bit PowerShell on 64-bit Windows'; Arch = 'x86'; Wow = 'AMD64' }
        @{ Case = 'Windows on ARM'; Arch = 'ARM64'; Wow = $null }
    ) {
        param($Arch, $Wow)
        # MSYS2 missing and nothing to install it from: the run ends soon after the check.
        $box = New-Sandbox -NoMsys -Checkout
        $run = Invoke-Setup $box (Get-StandardArguments $box) -Environment @{ PROCESSOR_ARCHITECTURE = $Arch; PROCESSOR_ARCHITEW6432 = $Wow }
        $run.Lines[0..1] | Should -Be @('@step msys', "[Vorlen] installing MSYS2 (build environment) into $($box.Msys)")
        $run.Lines | Should -Not -Contain '[Vorlen] a 64-bit Windows is required'
    }
}

Describe 'MSYS2 already installed' {
    BeforeAll {
        $script:Box = New-Sandbox -Archive
        $script:Run = Invoke-Setup $Box (Get-StandardArguments $Box)
        Assert-Exit $Run 0
    }

    It 'goes from "@step msys" straight to "@step packages", installing nothing' {
        $Run.Lines[0] | Should -Be '@step msys'
        $Run.Lines[1] | Should -Be '@step packages'
        Get-Calls $Run 'winget' | Should -BeNullOrEmpty
        Get-Calls $Run 'msys2-installer.exe' | Should -BeNullOrEmpty
        @(Get-Calls $Run 'download' | Where-Object { $_.Args[0] -like '*msys2*' }) | Should -BeNullOrEmpty
    }

    It 'says what it does next' {
        $Run.Lines[2] | Should -Be '[Vorlen] updating MSYS2 and installing the build tools (this takes a while the first time)'
    }

    It 'updates twice, then installs the 14 CLANG64 packages in order, all through MSYS2 bash -lc' {
        $calls = Get-Calls $Run 'bash.exe'
        $calls.Count | Should -Be 3
        $calls | ForEach-Object { $_.Args[0] } | Should -Be @('-lc', '-lc', '-lc')
        $calls | ForEach-Object { $_.Args.Count } | Should -Be @(2, 2, 2)
        $calls[0].Args[1] | Should -BeExactly 'pacman -Syu --noconfirm'
        $calls[1].Args[1] | Should -BeExactly 'pacman -Syu --noconfirm'
        $calls[2].Args[1] | Should -BeExactly $PackageShell
    }

    It 'runs the package installation in a CLANG64 shell that stays in the current folder' {
        $install = (Get-Calls $Run 'bash.exe')[2]
        $install.Env.MSYSTEM | Should -BeExactly 'CLANG64'
        $install.Env.CHERE_INVOKING | Should -BeExactly '1'
    }

    # Every MSYS2 command in English, whatever Windows speaks; no proxy where Windows names none.
    It 'runs every MSYS2 command in English, with no proxy of its own, and the launcher without either' {
        foreach ($call in Get-Calls $Run 'bash.exe') {
            $call.Env.LC_ALL | Should -BeExactly 'C.UTF-8'
            $call.Env.Keys | Should -Not -Contain 'LANGUAGE'
            $call.Env.Keys | Should -Not -Contain 'http_proxy'
            $call.Env.Keys | Should -Not -Contain 'https_proxy'
        }
        (Get-Calls $Run 'python.exe')[0].Env.Keys | Should -Not -Contain 'LC_ALL'
        $Run.Output | Should -Not -Match 'proxy'
    }

    It "passes pacman's output through, error output included" {
        $Run.Lines | Should -Contain ':: Starting core system upgrade...'
        $Run.Lines | Should -Contain 'resolving dependencies...'
        $Run.Lines | Should -Contain 'warning: terminate MSYS2 without returning to shell and check for updates again'
    }
}

Describe 'pacman update runs' {
    It 'never end the script (update exit codes <Exits>)' -TestCases @(
        @{ Exits = '1 0' }    # the first run updates the core and stops
        @{ Exits = '255 127' }
    ) {
        param($Exits)
        $box = New-Sandbox -Checkout
        $run = Invoke-Setup $box (Get-StandardArguments $box) -Environment @{ VORLEN_TEST_SYU_EXITS = $Exits }
        Assert-Exit $run 0
        $bash = Get-Calls $run 'bash.exe'
        $bash.Count | Should -Be 3
        $bash[2].Args[1] | Should -BeExactly $PackageShell
        (Get-Steps $run)[-1] | Should -Be 'shortcuts'
    }

    # pacman's reasons as it writes them, UTF-8; it would speak the language of Windows.
    It 'a failed package installation on a PC in <Language> ends the script with pacman''s first error, in English, as the reason' -TestCases @(
        @{ Language = 'English'; Lang = $null }
        @{ Language = 'German'; Lang = 'de' }
    ) {
        param($Lang)
        $box = New-Sandbox -Checkout
        $run = Invoke-Setup $box (Get-StandardArguments $box) -Environment @{ VORLEN_TEST_PACMAN_EXIT = '1'; VORLEN_TEST_PACMAN_LANG = $Lang }
        Assert-Exit $run 1
        $reason = "failed retrieving file 'mingw-w64-clang-x86_64-llvm-21.1.2-1-any.pkg.tar.zst' from repo.msys2.org : Connection timed out after 10001 milliseconds"
        $run.Lines[-2..-1] | Should -Be @(
            "[Vorlen] error: MSYS2 command failed: $PackageCommand"
            "[Vorlen] error: could not install the build tools: $reason")
        # pacman's own lines reach the output as it wrote them.
        $run.Lines | Should -Contain "error: $reason"
        $run.Lines | Should -Contain 'Errors occurred, no packages were upgraded.'
        Get-Steps $run | Should -Be @('msys', 'packages')
        Get-Calls $run 'python.exe' | Should -BeNullOrEmpty
    }
}

Describe 'pacman behind a proxy, and antivirus' {
    It 'gets the proxy that Windows names for every MSYS2 command, and says when the proxy stopped a download' {
        $box = New-Sandbox -Checkout
        $run = Invoke-Setup $box (Get-StandardArguments $box) -Environment @{ VORLEN_TEST_PROXY = 'http://proxy.test:3128'; VORLEN_TEST_PACMAN_EXIT = '1'; VORLEN_TEST_PACMAN_FAILS = 'proxy' }
        Assert-Exit $run 1
        $calls = Get-Calls $run 'bash.exe'
        $calls.Count | Should -Be 3
        foreach ($call in $calls) {
            $call.Env.http_proxy | Should -BeExactly 'http://proxy.test:3128/'
            $call.Env.https_proxy | Should -BeExactly 'http://proxy.test:3128/'
        }
        $run.Lines | Should -Contain "[Vorlen] MSYS2 downloads through this PC's proxy proxy.test:3128"
        $run.Lines[-1] | Should -BeExactly ("[Vorlen] error: could not install the build tools: the network's proxy stopped the download " +
            "(failed retrieving file 'mingw-w64-clang-x86_64-llvm-21.1.2-1-any.pkg.tar.zst' from repo.msys2.org : Received HTTP code 407 from proxy after CONNECT); " +
            'MSYS2 cannot sign in to a proxy or trust one that inspects encrypted connections: ask whoever runs the network to let repo.msys2.org through, or install on another network')
    }

    It 'says that antivirus most likely removed msys-2.0.dll when it is gone after a failed package installation' {
        $box = New-Sandbox -Checkout
        $run = Invoke-Setup $box (Get-StandardArguments $box) -Environment @{ VORLEN_TEST_PACMAN_EXIT = '1'; VORLEN_TEST_PACMAN_FAILS = 'quarantine'; VORLEN_TEST_DEFENDER = 'on' }
        Assert-Exit $run 1
        $run.Lines[0] | Should -BeExactly "[Vorlen] Microsoft Defender's real-time protection is on"
        $run.Lines[-1] | Should -BeExactly ("[Vorlen] error: $($box.Msys)\usr\bin\msys-2.0.dll, which the installation made, is gone: antivirus most likely " +
            "removed it; look in Windows Security's protection history, allow the file, and Install again")
    }
}

Describe 'MSYS2 as a stopped run leaves it' {
    # Holder: the pacman.exe that runs while the script starts (a copy of sleep), if any.
    It 'a pacman lock <Case>' -TestCases @(
        @{ Case = 'that no pacman holds is removed, and the packages are installed'; Holder = $null; Removed = $true }
        @{ Case = 'held by a pacman of another MSYS2 is removed'; Holder = 'other msys/usr/bin/pacman.exe'; Removed = $true }
        @{ Case = 'held by a pacman of this MSYS2 stays: exit code 1'; Holder = 'msys64/usr/bin/pacman.exe'; Removed = $false }
    ) {
        param($Holder, $Removed)
        $box = New-Sandbox -Checkout
        $lock = Join-Path $box.Msys 'var/lib/pacman/db.lck'
        $null = New-Item -ItemType Directory -Force -Path (Split-Path -Parent $lock)
        [IO.File]::WriteAllBytes($lock, [byte[]]@())
        $process = $null
        if ($Holder) {
            $program = Join-Path $box.Root $Holder
            $null = New-Item -ItemType Directory -Force -Path (Split-Path -Parent $program)
            Copy-Item -LiteralPath (Get-Command sleep -CommandType Application)[0].Source -Destination $program -Force
            $process = [Diagnostics.Process]::Start($program, '60')
        }
        try {
            $run = Invoke-Setup $box (Get-StandardArguments $box)
        } finally {
            if ($process) { $process.Kill(); $process.WaitForExit() }
        }
        if ($Removed) {
            Assert-Exit $run 0
            $run.Lines | Should -Contain '[Vorlen] removing the package lock that a stopped run left behind'
            (Get-Calls $run 'bash.exe').Count | Should -Be 3
            Test-Path -LiteralPath $lock | Should -BeFalse
        } else {
            Assert-Exit $run 1
            $run.Lines[-1] | Should -BeExactly "[Vorlen] pacman is running in $($box.Msys); let it finish, then run this again"
            Get-Calls $run 'bash.exe' | Should -BeNullOrEmpty
            Test-Path -LiteralPath $lock | Should -BeTrue
        }
    }

    It 'an MSYS2 whose installation stopped half-way (bash.exe, no pacman.exe) is reported, exit code 1' {
        $box = New-Sandbox -Checkout
        Remove-Item -LiteralPath (Join-Path $box.Msys 'usr/bin/pacman.exe')
        $run = Invoke-Setup $box (Get-StandardArguments $box)
        Assert-Exit $run 1
        $run.Lines[-1] | Should -BeExactly "[Vorlen] MSYS2 in $($box.Msys) is incomplete, its installation was stopped; delete that folder and run this again"
        Get-Steps $run | Should -Be @('msys')
        Get-Calls $run 'bash.exe' | Should -BeNullOrEmpty
    }
}

Describe 'MSYS2 missing' {
    It 'winget installs it into the MSYS2 root; nothing is downloaded' {
        $box = New-Sandbox -NoMsys -Winget -Installer -Checkout
        $run = Invoke-Setup $box (Get-StandardArguments $box) -Environment @{ VORLEN_TEST_WINGET_INSTALLS = '1'; VORLEN_TEST_WINGET_EXIT = '0' }
        Assert-Exit $run 0
        $run.Lines[0..1] | Should -Be @('@step msys', "[Vorlen] installing MSYS2 (build environment) into $($box.Msys)")
        $winget = Get-Calls $run 'winget'
        $winget.Count | Should -Be 1
        $winget[0].Args | Should -Be @('install', '--id', 'MSYS2.MSYS2', '-e', '--silent',
            '--accept-package-agreements', '--accept-source-agreements', '--location', $box.Msys)
        Get-Calls $run 'msys2-installer.exe' | Should -BeNullOrEmpty
        @(Get-Calls $run 'download' | Where-Object { $_.Args[0] -like '*msys2*' }) | Should -BeNullOrEmpty
        $run.Lines | Should -Contain '@step packages'
    }

    It 'winget leaving a program running that holds its output open: the script goes on once winget has ended' {
        $box = New-Sandbox -NoMsys -Winget -Checkout
        $run = Invoke-Setup $box (Get-StandardArguments $box) -Environment @{ VORLEN_TEST_WINGET_INSTALLS = '1'; VORLEN_TEST_WINGET_LINGERS = '1' }
        $lingering = [int](Get-Content -LiteralPath (Join-Path $box.Root 'state/lingering'))
        try {
            Assert-Exit $run 0
            $run.Lines | Should -Contain 'Successfully installed'
            # The script ended while that program still ran: it did not wait for the output's end.
            Get-Process -Id $lingering -ErrorAction SilentlyContinue | Should -Not -BeNullOrEmpty
        } finally {
            Stop-Process -Id $lingering -ErrorAction SilentlyContinue
        }
    }

    It 'winget failing (whatever it answers), the downloaded installer sets it up' {
        $box = New-Sandbox -NoMsys -Winget -Installer -Checkout
        # A Windows-style root: the installer must get it with forward slashes.
        $root = "$($box.Root)\msys64"
        $arguments = @('-Nup', $box.Nup, '-Dir', (Join-Path $box.Root 'Games/Vorlen'), '-Msys', $root)
        $run = Invoke-Setup $box $arguments -Environment @{ VORLEN_TEST_WINGET_EXIT = '0'; VORLEN_TEST_INSTALLER_INSTALLS = '1' }
        Assert-Exit $run 0
        (Get-Calls $run 'winget').Count | Should -Be 1
        $download = Get-Calls $run 'download'
        $download[0].Args[0] | Should -BeExactly 'https://repo.msys2.org/distrib/msys2-x86_64-latest.exe'
        $download[0].Args[1] | Should -BeExactly (Join-Path $box.Temp 'msys2-installer.exe')
        $installer = Get-Calls $run 'msys2-installer.exe'
        $installer.Count | Should -Be 1
        $installer[0].Args | Should -Be @('in', '--confirm-command', '--accept-messages', '--root', "$($box.Root)/msys64")
    }

    # The profile's folder has square brackets in its name, which Windows PowerShell 5.1 reads
    # as wildcards where a path is not taken literally.
    Context 'without winget, for the account "[clan] Sam"' {
        BeforeAll {
            $script:Box = New-Sandbox -NoMsys -Installer -Checkout -Account '[clan] Sam'
            $script:Run = Invoke-Setup $Box (Get-StandardArguments $Box) -Environment @{ VORLEN_TEST_INSTALLER_INSTALLS = '1' }
            Assert-Exit $Run 0
        }

        It 'downloads the MSYS2 installer over HTTPS into the temporary folder and runs it unattended' {
            Get-Calls $Run 'winget' | Should -BeNullOrEmpty
            $download = Get-Calls $Run 'download'
            $download[0].Args[0] | Should -BeExactly 'https://repo.msys2.org/distrib/msys2-x86_64-latest.exe'
            $download[0].Args[1] | Should -BeExactly (Join-Path $Box.Temp 'msys2-installer.exe')
            (Get-Calls $Run 'msys2-installer.exe')[0].Args | Should -Be @('in', '--confirm-command', '--accept-messages', '--root', $Box.Msys)
            $Run.Lines | Should -Contain '@step packages'
        }

        It "keeps the installer's output from the log and deletes the installer" {
            $Run.Output | Should -Not -Match 'installer: '
            Test-Path -LiteralPath (Join-Path $Box.Temp 'msys2-installer.exe') | Should -BeFalse
        }
    }

    It 'neither winget nor the installer managing it: says what each said and where to get MSYS2, exit code 1' {
        $box = New-Sandbox -NoMsys -Winget -Installer -Checkout
        $run = Invoke-Setup $box (Get-StandardArguments $box)
        Assert-Exit $run 1
        $run.Lines[-1] | Should -BeExactly ('[Vorlen] error: MSYS2 could not be installed (winget: Installer failed with exit code: 1; ' +
            "the MSYS2 installer: Cannot create directory `"$($box.Msys)`".); install it from https://www.msys2.org and run this again")
        # winget's own output reaches the pipe as it wrote it, redraws and all.
        $run.Output | Should -BeLikeExactly "*`rFound MSYS2 [[]MSYS2.MSYS2] Version 20250830`r`n$([char]0x2588)$([char]0x2592)$([char]0x2592)  1024 KB / 86.4 MB`r*"
        Get-Steps $run | Should -Be @('msys')
        Test-Path -LiteralPath (Join-Path $box.Temp 'msys2-installer.exe') | Should -BeFalse
    }

    It 'winget that is found but cannot be started: the downloaded installer sets it up' {
        $box = New-Sandbox -NoMsys -Installer -Checkout
        # As a broken App Execution Alias: on PATH, but nothing runs.
        $winget = Join-Path $box.Root 'bin/winget'
        Set-Content -LiteralPath $winget -Value '#!/no/such/interpreter'
        [IO.File]::SetUnixFileMode($winget, [IO.UnixFileMode]'UserRead, UserWrite, UserExecute')
        $run = Invoke-Setup $box (Get-StandardArguments $box) -Environment @{ VORLEN_TEST_INSTALLER_INSTALLS = '1' }
        Assert-Exit $run 0
        @($run.Lines | Where-Object { $_ -like '`[Vorlen`] could not start *winget: *; downloading the MSYS2 installer instead' }).Count | Should -Be 1
        (Get-Calls $run 'msys2-installer.exe').Count | Should -Be 1
        $run.Lines | Should -Contain '@step packages'
    }

    # Said: how the last line goes on after "[Vorlen] error: ".
    It 'the installer <Case>: one error line, exit code 1, the installer removed' -TestCases @(
        @{ Case = 'not found at its address'; Environment = @{}; Served = $false
            Said = 'could not download https://repo.msys2.org/distrib/msys2-x86_64-latest.exe: The remote server returned an error: (404) Not Found.' }
        @{ Case = 'download breaking off half-way'; Environment = @{ VORLEN_TEST_DOWNLOAD_CUT = '1' }; Served = $true
            Said = 'could not download https://repo.msys2.org/distrib/msys2-x86_64-latest.exe: Unable to read data from the transport connection: ' }
        @{ Case = 'that cannot be started'; Environment = @{}; Served = $true; NotRunnable = $true
            Said = 'could not start {setup}: ' }
    ) {
        param($Environment, $Served, $NotRunnable, $Said)
        $box = New-Sandbox -NoMsys -Installer:$Served -Checkout
        if ($NotRunnable) { [IO.File]::SetUnixFileMode((Join-Path $box.Root "web/$InstallerUrlKey"), [IO.UnixFileMode]'UserRead, UserWrite') }
        $run = Invoke-Setup $box (Get-StandardArguments $box) -Environment $Environment
        Assert-Exit $run 1
        $setup = Join-Path $box.Temp 'msys2-installer.exe'
        $run.Lines[-1].StartsWith('[Vorlen] error: ' + $Said.Replace('{setup}', $setup)) | Should -BeTrue -Because $run.Lines[-1]
        Get-Steps $run | Should -Be @('msys')
        Get-Calls $run 'msys2-installer.exe' | Should -BeNullOrEmpty
        Get-Calls $run 'bash.exe' | Should -BeNullOrEmpty
        Test-Path -LiteralPath $setup | Should -BeFalse
    }
}
