# The scripts are carried byte for byte and run by Windows PowerShell 5.1; PowerShell 7, which
# runs the other tests, accepts far more. These checks stand in for a run on 5.1.

BeforeDiscovery {
    # As in Harness.ps1, VORLEN_SCRIPT_UNDER_TEST and VORLEN_UNINSTALL_UNDER_TEST check other copies.
    $script:Scripts = @(
        @{ Name = 'install.ps1'; Console = $false; ScriptFile = if ($env:VORLEN_SCRIPT_UNDER_TEST) { $env:VORLEN_SCRIPT_UNDER_TEST } else {
                (Resolve-Path (Join-Path $PSScriptRoot '../../script/install.ps1')).Path } }
        @{ Name = 'uninstall.ps1'; Console = $true; ScriptFile = if ($env:VORLEN_UNINSTALL_UNDER_TEST) { $env:VORLEN_UNINSTALL_UNDER_TEST } else {
                (Resolve-Path (Join-Path $PSScriptRoot '../../script/uninstall.ps1')).Path } }
    )
}

BeforeAll {
    . (Join-Path $PSScriptRoot 'Ps51.ps1')
}

Describe '<Name> as bytes' -ForEach $Scripts {
    BeforeAll {
        $script:Bytes = [IO.File]::ReadAllBytes($ScriptFile)
    }

    It 'is not empty' {
        $Bytes.Length | Should -BeGreaterThan 1000
    }

    It 'has no byte-order mark' {
        $head = ($Bytes | Select-Object -First 3) -join ','
        $head | Should -Not -BeLike '239,187,191*'   # UTF-8
        $head | Should -Not -BeLike '255,254*'       # UTF-16 LE
        $head | Should -Not -BeLike '254,255*'       # UTF-16 BE
    }

    It 'holds only printable ASCII, tabs and line feeds (no CR, nothing above 127)' {
        $bad = for ($i = 0; $i -lt $Bytes.Length; $i++) {
            $b = $Bytes[$i]
            if (($b -lt 32 -and $b -ne 9 -and $b -ne 10) -or $b -gt 126) {
                $line = 1 + @($Bytes[0..$i] | Where-Object { $_ -eq 10 }).Count
                "byte $b at offset $i (line $line)"
            }
        }
        $bad | Should -BeNullOrEmpty
    }
}

Describe '<Name> under Windows PowerShell 5.1' -ForEach $Scripts {
    It 'parses without errors and uses nothing that 5.1 lacks' {
        Test-Ps51Text -Path $ScriptFile -Console:$Console | Should -BeNullOrEmpty
    }

    It 'is one self-contained file: it loads no other script or module of its own' {
        $tokens = $null; $errors = $null
        $ast = [System.Management.Automation.Language.Parser]::ParseFile($ScriptFile, [ref]$tokens, [ref]$errors)
        $loads = $ast.FindAll({
                param($n)
                ($n -is [System.Management.Automation.Language.CommandAst] -and
                    ($n.InvocationOperator -eq 'Dot' -or $n.GetCommandName() -in 'Import-Module', 'ipmo')) -or
                $n -is [System.Management.Automation.Language.UsingStatementAst]
            }, $true)
        $loads | ForEach-Object { $_.Extent.Text } | Should -BeNullOrEmpty
        $ast.ScriptRequirements | Should -BeNullOrEmpty
    }
}

Describe 'the 5.1 check itself' {
    # Each snippet holds one thing that 5.1 cannot run; the check must name it.
    It 'rejects <What>' -TestCases @(
        @{ What = 'the ternary operator'; Code = '$a = $b ? 1 : 2' }
        @{ What = 'the && chain'; Code = 'git pull && git push' }
        @{ What = 'the || chain'; Code = 'Test-Path x || exit 1' }
        @{ What = '??'; Code = '$a = $b ?? "x"' }
        @{ What = '??='; Code = '$a ??= 1' }
        @{ What = '?. on a member'; Code = '${a}?.Length' }
        @{ What = '?. on a method'; Code = '${a}?.Trim()' }
        @{ What = '?[]'; Code = '${a}?[0]' }
        @{ What = 'a clean block'; Code = 'function f { process { 1 } clean { 2 } }' }
        @{ What = 'Get-Content -AsByteStream'; Code = 'Get-Content -LiteralPath x -AsByteStream' }
        @{ What = 'an abbreviated -AsByteStream'; Code = 'Set-Content x -Value 1 -AsByte' }
        @{ What = '-Encoding utf8NoBOM'; Code = 'Set-Content -LiteralPath x -Value y -Encoding utf8NoBOM' }
        @{ What = '-Encoding:utf8BOM'; Code = 'Out-File x -Encoding:utf8BOM' }
        @{ What = '-Encoding ansi'; Code = 'Add-Content x y -Encoding ansi' }
        @{ What = 'a code page number as -Encoding'; Code = 'Get-Content x -Encoding 1252' }
        @{ What = 'an -Encoding that cannot be checked'; Code = 'Set-Content x y -Encoding $enc' }
        @{ What = 'ForEach-Object -Parallel'; Code = '1..3 | ForEach-Object -Parallel { $_ }' }
        @{ What = '% -Parallel'; Code = '1..3 | % -Parallel { $_ }' }
        @{ What = 'Join-Path -AdditionalChildPath'; Code = 'Join-Path a b -AdditionalChildPath c' }
        @{ What = 'Join-Path with three paths'; Code = 'Join-Path a b c' }
        @{ What = 'Test-Json'; Code = 'Test-Json -Json "{}"' }
        @{ What = 'Invoke-WebRequest -SkipCertificateCheck'; Code = 'Invoke-WebRequest -Uri $u -OutFile f -SkipCertificateCheck' }
        @{ What = 'ConvertFrom-Json -AsHashtable'; Code = '$j | ConvertFrom-Json -AsHashtable' }
        @{ What = 'Start-Process -Environment'; Code = 'Start-Process x -Environment @{A=1}' }
        @{ What = '$IsWindows'; Code = 'if ($IsWindows) { 1 }' }
        @{ What = 'the `u{} escape'; Code = '"tick `u{2713}"' }
        @{ What = 'the `e escape'; Code = '"`e[31mred"' }
        @{ What = 'an escape inside a subexpression'; Code = '"a $("`u{2713}") b"' }
        @{ What = '[IO.Path]::Join'; Code = '[IO.Path]::Join("a", "b")' }
        @{ What = '[System.IO.Path]::GetRelativePath'; Code = '[System.IO.Path]::GetRelativePath("a", "b")' }
        @{ What = '[Environment]::ProcessPath'; Code = '[Environment]::ProcessPath' }
        @{ What = '.Split with a separator string'; Code = '"a, b".Split(", ")' }
        @{ What = 'a parse error'; Code = 'function f( {' }
        # Paths that 5.1 reads as wildcards, and files that it writes with a byte-order mark.
        @{ What = 'Test-Path -Path with a path'; Code = 'Test-Path -Path $p -PathType Leaf' }
        @{ What = 'a path by position after a switch'; Code = 'Remove-Item -Recurse "$env:TEMP\x"' }
        @{ What = 'a path by position to an alias'; Code = 'rm $p' }
        @{ What = 'a constant path with square brackets'; Code = 'Get-Content ''C:\[a]\b.txt''' }
        @{ What = 'New-Item -Path'; Code = 'New-Item -ItemType Directory -Path $d' }
        @{ What = 'Invoke-WebRequest -OutFile'; Code = 'Invoke-WebRequest -Uri $u -OutFile "$env:TEMP\x.exe" -UseBasicParsing' }
        @{ What = 'Expand-Archive -DestinationPath'; Code = 'Expand-Archive -LiteralPath $zip -DestinationPath $dir' }
        @{ What = 'Start-Process -FilePath by position'; Code = 'Start-Process $setup -Wait' }
        @{ What = '& on a path'; Code = '& $setup /S' }
        @{ What = '& on a path in a string'; Code = '& "$Msys\usr\bin\bash.exe" -lc x' }
        @{ What = 'Set-Content -Encoding Oem'; Code = 'Set-Content -LiteralPath $f -Value $v -Encoding Oem' }
        @{ What = 'Out-File -Encoding UTF8'; Code = '$t | Out-File -LiteralPath $f -Encoding utf8' }
        # A shortcut's target as WScript.Shell reads it, in the ANSI code page.
        @{ What = 'reading TargetPath'; Code = 'if ($shell.CreateShortcut($f).TargetPath -eq $runner) { 1 }' }
        # Lines that 5.1 writes in the console's code page into the installer's pipe.
        @{ What = 'Write-Host'; Code = 'function Say($m) { Write-Host "[Vorlen] $m" -ForegroundColor Cyan }' }
        @{ What = 'echo'; Code = 'echo "@step msys"' }
        @{ What = '[Console]::WriteLine'; Code = '[Console]::WriteLine("@step msys")' }
        @{ What = '[System.Console]::Out'; Code = '[System.Console]::Out.Write("x")' }
    ) {
        param($What, $Code)
        @(Test-Ps51Text -Text $Code) | Should -Not -BeNullOrEmpty -Because "$What must be found in: $Code"
    }

    # Look-alikes that 5.1 runs; the check must not cry wolf at them.
    It 'accepts <What>' -TestCases @(
        @{ What = 'a question mark and && inside strings'; Code = 'Say "Start? [Y/n] && go ?? ?. ?[x]"' }
        @{ What = 'Write-Host inside Put, at a console'; Code = 'function Put($l) { if ($o) { $o.Write($b, 0, 1) } else { Write-Host $l } }' }
        @{ What = '-and / -or'; Code = 'if ($a -and $b -or $c) { 1 }' }
        @{ What = '-Encoding ASCII, and Oem for reading'; Code = "Set-Content x y -Encoding ASCII`nGet-Content x -Encoding Oem" }
        @{ What = 'Join-Path with two paths'; Code = 'Join-Path $a "b\c"' }
        @{ What = 'Join-Path -Resolve'; Code = 'Join-Path -Path $a -ChildPath b -Resolve' }
        @{ What = 'ForEach-Object -Process'; Code = '1..3 | ForEach-Object -Process { $_ }' }
        @{ What = 'a Where-Object filter with ?'; Code = '1..3 | ? { $_ -gt 1 }' }
        @{ What = 'indexing and members'; Code = '$a[0].Length; $h["k"]; [IO.Path]::GetTempPath()' }
        @{ What = '.Split with one character'; Code = '"a,b".Split(",")' }
        @{ What = 'escapes 5.1 knows'; Code = '"a`tb`n`"c`$d"' }
        @{ What = 'Invoke-WebRequest as 5.1 has it'; Code = 'Invoke-WebRequest -Uri $u -UseBasicParsing' }
        @{ What = '-LiteralPath'; Code = 'Test-Path -LiteralPath $p; Remove-Item -LiteralPath $p -Recurse -Force; Get-ChildItem -LiteralPath $d -Directory' }
        @{ What = 'constant paths and patterns'; Code = 'Test-Path C:\x; Get-ChildItem -Path *.txt -Filter $f' }
        @{ What = '& on a script block or a program by name'; Code = '& { 1 }; & git status' }
        @{ What = 'a variable named like an automatic one of 7'; Code = '$IsWindowsUser = 1' }
        @{ What = 'setting TargetPath'; Code = '$link.TargetPath = $runner' }
    ) {
        param($What, $Code)
        @(Test-Ps51Text -Text $Code) | Should -BeNullOrEmpty
    }
}
