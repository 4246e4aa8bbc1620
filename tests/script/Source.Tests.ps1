# The source tree (downloaded, or the checkout the script stands in) and the game file.

BeforeAll {
    . (Join-Path $PSScriptRoot 'Harness.ps1')
    $script:GameTitle = 'Select your dump of The Legend of Zelda: Ocarina of Time (Switch 2; update v131072 is the tested one)'
    $script:GameFilter = 'Switch 2 package (*.nup)|*.nup|All files (*.*)|*.*'

    function Get-LauncherArg($Run, [string]$Option) {
        $a = (Get-Calls $Run 'python.exe')[0].Args
        $a[[array]::IndexOf($a, $Option) + 1]
    }
    function Get-DownloadFolders($Box) {
        @(Get-ChildItem -LiteralPath $Box.Temp -Directory | Where-Object Name -match '^(vl|vorlen)-')
    }
}

Describe 'a run as the installer starts it: the script alone, a game file given' {
    BeforeAll {
        # Square brackets in the profile's folder, which 5.1 reads as wildcards where a path
        # is not taken literally.
        $script:Box = New-Sandbox -Archive -Account '[clan] Sam'
        $script:Run = Invoke-Setup $Box (Get-StandardArguments $Box)
        Assert-Exit $Run 0
    }

    It 'says so right after "@step source" and fetches the main branch archive over HTTPS, answering a proxy that asks' {
        $at = [array]::IndexOf($Run.Lines, '@step source')
        $Run.Lines[$at + 1] | Should -BeExactly '[Vorlen] downloading vorlen-port/vorlen'
        $download = Get-Calls $Run 'download'
        $download.Count | Should -Be 1
        $download[0].Args[0] | Should -BeExactly 'https://codeload.github.com/vorlen-port/vorlen/zip/refs/heads/main'
        # A short folder name, so that the archive's deepest files stay well within the path limit.
        $download[0].Args[1] | Should -Match ('^' + [regex]::Escape($Box.Temp) + '/vl-[0-9a-f]{8}/src\.zip$')
        $download[0].Args[2] | Should -BeExactly 'ProxyCredentials=signed-in account'
    }

    It "builds from the archive's top folder" {
        $folder = Split-Path -Parent ((Get-Calls $Run 'download')[0].Args[1] -replace '\\', '/')
        $source = Join-Path $folder 'vorlen-main'
        Get-LauncherArg $Run '--source' | Should -BeExactly $source
        (Get-Calls $Run 'python.exe')[0].Args[0] | Should -BeExactly "$source\installer\launcher.py"
    }

    It 'deletes the downloaded folder after a successful build' {
        Get-DownloadFolders $Box | Should -BeNullOrEmpty
    }

    It 'takes a game file whose name holds square brackets and spaces, without asking' {
        $Box.Nup | Should -BeLike '*`[v131072`] (Switch 2).nup'
        Get-LauncherArg $Run '--nup' | Should -BeExactly $Box.Nup
        Get-Calls $Run 'open-file-dialog' | Should -BeNullOrEmpty
        $Run.Output | Should -Not -Match 'no such file'
    }
}

Describe 'source tree download, other cases' {
    It 'takes the repository from -Repo' {
        $box = New-Sandbox -Archive -Repo 'someone-else/vorlen-fork'
        $run = Invoke-Setup $box ((Get-StandardArguments $box) + @('-Repo', 'someone-else/vorlen-fork'))
        Assert-Exit $run 0
        $run.Lines | Should -Contain '[Vorlen] downloading someone-else/vorlen-fork'
        (Get-Calls $run 'download')[0].Args[0] | Should -BeExactly 'https://codeload.github.com/someone-else/vorlen-fork/zip/refs/heads/main'
    }

    It 'leaves only the newest downloaded source in the temporary folder when the build fails' {
        $box = New-Sandbox -Archive
        # Left by earlier runs: a failed build's source and a stopped run's, one of them named as
        # older versions named it; and the installer's own folder, which stays.
        $older = @((Join-Path $box.Temp "vorlen-$([guid]::NewGuid())"), (Join-Path $box.Temp 'vl-0123abcd'))
        $null = New-Item -ItemType Directory -Path (Join-Path $older[0] 'vorlen-main'), $older[1], (Join-Path $box.Temp 'vorlen-setup')
        $run = Invoke-Setup $box (Get-StandardArguments $box) -Environment @{ VORLEN_TEST_LAUNCHER_EXIT = '1' }
        Assert-Exit $run 1
        $left = @(Get-DownloadFolders $box | Where-Object Name -ne 'vorlen-setup')
        $left.Count | Should -Be 1
        $left[0].FullName | Should -Not -BeIn $older
        Test-Path -LiteralPath (Join-Path $left[0].FullName 'vorlen-main/tools/build_game.py') | Should -BeTrue
        Test-Path -LiteralPath (Join-Path $box.Temp 'vorlen-setup') | Should -BeTrue
    }

    It 'removes the downloaded source when <Case>' -TestCases @(
        @{ Case = 'the download breaks off half-way: one error line'; Arguments = @('-Nup', '{nup}'); Environment = @{ VORLEN_TEST_DOWNLOAD_CUT = '1' }
            Said = 'error: could not download https://codeload.github.com/vorlen-port/vorlen/zip/refs/heads/main: Unable to read data from the transport connection: An existing connection was forcibly closed by the remote host.' }
    ) {
        param($Arguments, $Environment, $Said)
        $box = New-Sandbox -Archive
        $arguments = @($Arguments | ForEach-Object { $_.Replace('{nup}', $box.Nup) }) + @('-Dir', (Join-Path $box.Root 'Games/Vorlen'), '-Msys', $box.Msys)
        $run = Invoke-Setup $box $arguments -Environment $Environment
        Assert-Exit $run 1
        $run.Lines[-1] | Should -BeExactly "[Vorlen] $Said"
        (Get-Calls $run 'download').Count | Should -Be 1
        Get-DownloadFolders $box | Should -BeNullOrEmpty
        Get-Calls $run 'python.exe' | Should -BeNullOrEmpty
    }

    It 'a failed download ends the script with one error line, before the build' {
        $box = New-Sandbox    # nothing served at the archive's address
        $run = Invoke-Setup $box (Get-StandardArguments $box)
        Assert-Exit $run 1
        $run.Lines[-1] | Should -BeExactly '[Vorlen] error: could not download https://codeload.github.com/vorlen-port/vorlen/zip/refs/heads/main: The remote server returned an error: (404) Not Found.'
        Get-Steps $run | Should -Be @('msys', 'packages', 'source')
        Get-Calls $run 'python.exe' | Should -BeNullOrEmpty
    }
}

Describe 'source checkout beside the script' {
    # Square brackets in the folder's name: the test for the tree must be literal.
    It 'builds from the checkout and downloads nothing' {
        $box = New-Sandbox    # no archive served: a download would fail
        $checkout = Join-Path $box.Root 'vorlen [main] copy'
        $null = New-Item -ItemType Directory -Path (Join-Path $checkout 'tools'), (Join-Path $checkout 'installer')
        Set-Content -LiteralPath (Join-Path $checkout 'tools/build_game.py') -Value '# build'
        $script = Join-Path $checkout 'install.ps1'
        Copy-Item -LiteralPath $box.Script -Destination $script
        $run = Invoke-Setup $box (Get-StandardArguments $box) -ScriptPath $script
        Assert-Exit $run 0
        Get-Calls $run 'download' | Should -BeNullOrEmpty
        $run.Output | Should -Not -Match 'downloading'
        Get-LauncherArg $run '--source' | Should -BeExactly $checkout
        (Get-Calls $run 'python.exe')[0].Args[0] | Should -BeExactly "$checkout\installer\launcher.py"
        Test-Path -LiteralPath (Join-Path $checkout 'tools/build_game.py') | Should -BeTrue
    }
}

Describe 'game file' {
    BeforeAll {
        function Test-GameFile($Given, $Dialog, $Exit, $Said, $Installer) {
            $box = New-Sandbox -Checkout
            $paths = @{
                missing = Join-Path $box.Root 'games/gone [v131072].nup'
                folder  = Join-Path $box.Root 'games'
                game    = $box.Nup
            }
            $arguments = @('-Dir', (Join-Path $box.Root 'Games/Vorlen'), '-Msys', $box.Msys)
            if ($Given -ne 'none') { $arguments += @('-Nup', $paths[$Given]) }
            $answer = if ($Dialog -eq 'cancel') { $null } else { 'ok:' + $paths[$Dialog] }
            $run = Invoke-Setup $box $arguments -Environment @{ VORLEN_TEST_OPEN_FILE = $answer } -ByHand:(-not $Installer) -Answer "n`n"
            Assert-Exit $run $Exit

            $expected = @($Said | ForEach-Object {
                    if ($_ -eq '~') { '~ open-file-dialog' }
                    else { '[Vorlen] ' + ($_ -replace '\{missing\}', $paths.missing -replace '\{folder\}', $paths.folder) }
                })
            @($run.Lines | Where-Object { $_ -like '`[Vorlen`] no *' -or $_ -like '`[Vorlen`] error: no *' -or $_ -like '~ *' }) | Should -Be $expected

            $dialogs = Get-Calls $run 'open-file-dialog'
            if ($Installer) {
                $dialogs | Should -BeNullOrEmpty
            } else {
                $dialogs.Count | Should -Be 1
                $dialogs[0].Args | Should -Be @($GameTitle, $GameFilter)
            }
            if ($Exit -eq 0) {
                Get-LauncherArg $run '--nup' | Should -BeExactly $box.Nup
            } else {
                $run.Lines[-1] | Should -BeExactly $expected[-1]
                Get-Steps $run | Should -BeNullOrEmpty
                @($run.Calls | Where-Object Name -notin 'add-type', 'open-file-dialog') | Should -BeNullOrEmpty
            }
        }
    }

    # Given: what -Nup names ("missing" file, a "folder", or nothing). Dialog: what the file
    # dialog answers, by hand. Said: the script's "no ..." messages and the dialog ("~"), in
    # order. A run that ends does so before MSYS2 is touched.
    It 'by hand, -Nup naming no file: <Case>' -TestCases @(
        @{ Case = 'missing file, dialog cancelled: no game file selected, exit 1'
            Given = 'missing'; Dialog = 'cancel'; Exit = 1
            Said = @('no such file: {missing} - choose the game file', '~', 'no game file selected') }
        @{ Case = 'missing file, another file chosen in the dialog: that one is built'
            Given = 'missing'; Dialog = 'game'; Exit = 0
            Said = @('no such file: {missing} - choose the game file', '~') }
        @{ Case = 'a folder instead of a file counts as missing'
            Given = 'folder'; Dialog = 'game'; Exit = 0
            Said = @('no such file: {folder} - choose the game file', '~') }
    ) {
        Test-GameFile @_
    }

    It 'by hand, no -Nup: <Case>' -TestCases @(
        @{ Case = 'no -Nup: the dialog opens at once'
            Given = 'none'; Dialog = 'game'; Exit = 0; Said = @('~') }
        @{ Case = 'no -Nup, dialog cancelled: no game file selected, exit 1'
            Given = 'none'; Dialog = 'cancel'; Exit = 1; Said = @('~', 'no game file selected') }
        @{ Case = 'the dialog naming a file that does not exist: no such file, exit 1'
            Given = 'none'; Dialog = 'missing'; Exit = 1; Said = @('~', 'no such file: {missing}') }
    ) {
        Test-GameFile @_
    }

    It '<Case>' -TestCases @(
        # Hidden, a dialog would wait unseen for ever.
        @{ Case = 'under the installer, a missing file: no dialog, exit 1'
            Given = 'missing'; Dialog = 'game'; Exit = 1; Installer = $true; Said = @('error: no such file: {missing}') }
        @{ Case = 'under the installer, no -Nup: no dialog, exit 1'
            Given = 'none'; Dialog = 'game'; Exit = 1; Installer = $true; Said = @('error: no game file given; name it with -Nup') }
    ) {
        Test-GameFile @_
    }
}
