# Finds what Windows PowerShell 5.1 (the powershell.exe that the installer starts) cannot run
# in a script that PowerShell 7 parses: newer syntax, newer parameters and parameter values,
# commands and automatic variables that 5.1 does not have, and .NET members that .NET
# Framework 4.x lacks; and what 5.1 runs differently: paths read as wildcards, and files
# written with a byte-order mark, and lines written in the console's code page. The tests run under PowerShell 7 on Linux, so without this a script
# could pass every test here and fail on the first line on Windows.

# Commands that 5.1 does not have at all.
$script:MissingCommands = @(
    'Test-Json', 'Get-Error', 'Join-String', 'ConvertFrom-Markdown', 'Show-Markdown',
    'Get-MarkdownOption', 'Set-MarkdownOption', 'Remove-Alias', 'Remove-Service', 'Get-Uptime',
    'Start-ThreadJob', 'Get-ExperimentalFeature', 'Enable-ExperimentalFeature',
    'Disable-ExperimentalFeature', 'Get-PSSubsystem', 'Get-SecureRandom', 'ConvertTo-CliXml',
    'ConvertFrom-CliXml'
)

# Parameters that the 5.1 version of a command does not have.
$script:MissingParameters = @{
    'ForEach-Object'     = @('Parallel', 'ThrottleLimit', 'TimeoutSeconds', 'AsJob', 'UseNewRunspace')
    'Join-Path'          = @('AdditionalChildPath', 'Extension')
    'Get-Content'        = @('AsByteStream')
    'Set-Content'        = @('AsByteStream')
    'Add-Content'        = @('AsByteStream')
    'Out-String'         = @('NoNewline')
    'Split-Path'         = @('LeafBase', 'Extension')
    'Sort-Object'        = @('Top', 'Bottom', 'Stable')
    'Select-Object'      = @('SkipIndex', 'CaseInsensitive')
    'Select-String'      = @('Raw', 'NoEmphasis', 'Culture')
    'Get-Date'           = @('AsUTC', 'UnixTimeSeconds')
    'Measure-Object'     = @('AllStats', 'StandardDeviation')
    'ConvertFrom-Json'   = @('AsHashtable', 'Depth', 'NoEnumerate', 'DateKind')
    'ConvertTo-Json'     = @('EnumsAsStrings', 'AsArray', 'EscapeHandling')
    'Start-Process'      = @('Environment')
    'Import-Module'      = @('UseWindowsPowerShell', 'SkipEditionCheck')
    'Test-Connection'    = @('TargetName', 'TcpPort', 'Ping', 'Traceroute', 'MtuSize')
    'Get-ChildItem'      = @('FollowSymlink')
    'Expand-Archive'     = @('PassThru')
    'ConvertFrom-StringData' = @('Delimiter')
    'Invoke-WebRequest'  = @('SkipCertificateCheck', 'Authentication', 'Token', 'SslProtocol', 'Resume',
        'SkipHttpErrorCheck', 'StatusCodeVariable', 'Form', 'MaximumRetryCount', 'RetryIntervalSec',
        'PreserveAuthorizationOnRedirect', 'NoProxy', 'HttpVersion', 'SkipHeaderValidation',
        'ConnectionTimeoutSeconds', 'OperationTimeoutSeconds', 'AllowInsecureRedirect',
        'CustomMethod', 'AllowUnencryptedAuthentication', 'ResponseHeadersVariable', 'PreserveHttpMethodOnRedirect')
    'Invoke-RestMethod'  = @('SkipCertificateCheck', 'Authentication', 'Token', 'SslProtocol', 'Resume',
        'SkipHttpErrorCheck', 'StatusCodeVariable', 'Form', 'MaximumRetryCount', 'RetryIntervalSec',
        'PreserveAuthorizationOnRedirect', 'NoProxy', 'HttpVersion', 'SkipHeaderValidation',
        'ConnectionTimeoutSeconds', 'OperationTimeoutSeconds', 'AllowInsecureRedirect',
        'CustomMethod', 'AllowUnencryptedAuthentication', 'ResponseHeadersVariable', 'PreserveHttpMethodOnRedirect')
}

# The values that 5.1's -Encoding takes (FileSystemCmdletProviderEncoding); 7 adds utf8NoBOM,
# utf8BOM, ansi and code page numbers, which 5.1 rejects.
$script:Encodings51 = @('Unknown', 'String', 'Unicode', 'BigEndianUnicode', 'UTF8', 'UTF7', 'UTF32',
    'Ascii', 'Default', 'Oem', 'BigEndianUTF32', 'Byte')

# Parameters that 5.1 reads as wildcard patterns, "[" and "]" included (7 takes -OutFile and
# "&" literally). The first one is also the command's first positional argument, unless
# WildcardPositions gives another number of leading positional arguments that go to them.
$script:WildcardPaths = @{
    'Test-Path' = 'Path'; 'Get-Item' = 'Path'; 'Remove-Item' = 'Path'; 'Get-ChildItem' = 'Path'
    'Get-Content' = 'Path'; 'Set-Content' = 'Path'; 'Add-Content' = 'Path'; 'Clear-Content' = 'Path'
    'Copy-Item' = 'Path'; 'Move-Item' = 'Path'; 'Rename-Item' = 'Path'; 'Invoke-Item' = 'Path'
    'Get-ItemProperty' = 'Path'; 'Set-ItemProperty' = 'Path'; 'Resolve-Path' = 'Path'; 'Convert-Path' = 'Path'
    'Set-Location' = 'Path'; 'Push-Location' = 'Path'; 'Get-FileHash' = 'Path'; 'Unblock-File' = 'Path'
    'Import-Csv' = 'Path'; 'Export-Csv' = 'Path'; 'Import-Clixml' = 'Path'; 'Export-Clixml' = 'Path'
    'Get-Acl' = 'Path'; 'Set-Acl' = 'Path'; 'Start-Transcript' = 'Path'; 'New-Item' = 'Path'
    'Out-File' = 'FilePath'; 'Tee-Object' = 'FilePath'
    'Expand-Archive' = 'Path', 'DestinationPath'; 'Compress-Archive' = 'Path', 'DestinationPath'
    'Invoke-WebRequest' = 'OutFile', 'InFile'; 'Invoke-RestMethod' = 'OutFile', 'InFile'
    'Start-Process' = 'FilePath', 'WorkingDirectory', 'RedirectStandardInput', 'RedirectStandardOutput', 'RedirectStandardError'
}
$script:WildcardPositions = @{ 'Expand-Archive' = 2; 'Compress-Archive' = 2; 'Invoke-WebRequest' = 0; 'Invoke-RestMethod' = 0 }
# Of those, the ones with no -LiteralPath to take instead.
$script:NoLiteralPath = @('New-Item', 'Start-Process', 'Invoke-WebRequest', 'Invoke-RestMethod')
# Switches of those commands: no value follows them, so a path after one is positional.
$script:Switches = @('Force', 'Recurse', 'Directory', 'File', 'Hidden', 'ReadOnly', 'System', 'NoNewline', 'PassThru', 'UseBasicParsing', 'Wait', 'NoNewWindow', 'Confirm', 'WhatIf', 'IsValid',
    'Append', 'NoClobber', 'Container', 'Relative', 'Raw', 'Resolve', 'Update', 'DisableKeepAlive',
    'LoadUserProfile', 'UseNewEnvironment', 'NoTypeInformation')
# 5.1 writes UTF8, and Oem when the OEM code page is 65001, with a byte-order mark; 7 does not.
$script:MarkedEncodings = @('UTF8', 'Oem')
$script:WritingCommands = @('Set-Content', 'Add-Content', 'Out-File', 'Export-Csv', 'Export-Clixml')

$script:Aliases = @{
    '%' = 'ForEach-Object'; 'foreach' = 'ForEach-Object'; '?' = 'Where-Object'; 'where' = 'Where-Object'
    'gc' = 'Get-Content'; 'cat' = 'Get-Content'; 'type' = 'Get-Content'; 'sc' = 'Set-Content'
    'ac' = 'Add-Content'; 'iwr' = 'Invoke-WebRequest'; 'irm' = 'Invoke-RestMethod'; 'sort' = 'Sort-Object'
    'select' = 'Select-Object'; 'sls' = 'Select-String'; 'ls' = 'Get-ChildItem'; 'dir' = 'Get-ChildItem'
    'gci' = 'Get-ChildItem'; 'ipmo' = 'Import-Module'; 'start' = 'Start-Process'; 'saps' = 'Start-Process'
    'measure' = 'Measure-Object'; 'gi' = 'Get-Item'; 'ni' = 'New-Item'; 'rm' = 'Remove-Item'
    'del' = 'Remove-Item'; 'ri' = 'Remove-Item'; 'erase' = 'Remove-Item'; 'rd' = 'Remove-Item'
    'rmdir' = 'Remove-Item'; 'cp' = 'Copy-Item'; 'copy' = 'Copy-Item'; 'cpi' = 'Copy-Item'
    'mv' = 'Move-Item'; 'move' = 'Move-Item'; 'mi' = 'Move-Item'; 'cd' = 'Set-Location'
    'chdir' = 'Set-Location'; 'sl' = 'Set-Location'; 'pushd' = 'Push-Location'; 'rvpa' = 'Resolve-Path'
    'ii' = 'Invoke-Item'; 'echo' = 'Write-Output'; 'write' = 'Write-Output'
}

# 5.1 writes what goes through the console's writer (Write-Host, output, [Console]::Write) into a
# pipe in the console's code page, the OEM code page in the installer's hidden console, where a
# letter outside it becomes "?". The script's lines go through Put, which writes UTF-8 bytes
# there and uses Write-Host only at a console. PowerShell 7 on Linux writes UTF-8 either way.
$script:ConsoleWriters = @('Write-Host', 'Write-Output', 'Out-Host')
$script:ConsoleMembers = @('Console::Write', 'Console::WriteLine', 'Console::Out')
$script:PipedOutput = $true
$script:ConsoleHint = "writes the console's OEM code page into the installer's pipe in Windows PowerShell 5.1; write the line with Put"
function Test-InsidePut([System.Management.Automation.Language.Ast]$Node) {
    for ($n = $Node.Parent; $n; $n = $n.Parent) {
        if ($n -is [System.Management.Automation.Language.FunctionDefinitionAst]) { return $n.Name -eq 'Put' }
    }
    $false
}

# Automatic variables that 5.1 does not set (reading them there gives $null, silently).
$script:MissingVariables = @('IsWindows', 'IsLinux', 'IsMacOS', 'IsCoreCLR', 'PSStyle',
    'PSNativeCommandArgumentPassing', 'PSNativeCommandUseErrorActionPreference', 'EnabledExperimentalFeatures')

# Static .NET members that came with .NET Core and are missing from .NET Framework 4.x.
$script:MissingStaticMembers = @(
    'IO.Path::Join', 'IO.Path::GetRelativePath', 'IO.Path::TrimEndingDirectorySeparator',
    'IO.Path::EndsInDirectorySeparator', 'IO.Path::IsPathFullyQualified', 'IO.File::ReadAllTextAsync',
    'IO.File::WriteAllTextAsync', 'IO.File::SetUnixFileMode', 'IO.File::GetUnixFileMode',
    'IO.Directory::CreateTempSubdirectory', 'Environment::ProcessPath', 'Environment::ProcessId',
    'Environment::IsPrivilegedProcess', 'Convert::ToHexString', 'Convert::FromHexString',
    'Math::Clamp', 'Random::Shared', 'OperatingSystem::IsWindows', 'OperatingSystem::IsLinux',
    'HashCode::Combine'
)

# A constant without "[" or "]" means the same as a pattern and as a path; anything else
# (a variable, an expandable string) may hold a path with them.
function Test-WildcardSafe($Value) {
    $Value -is [System.Management.Automation.Language.StringConstantExpressionAst] -and $Value.Value -notmatch '[\[\]]'
}

function Get-CommandParameterProblems([System.Management.Automation.Language.CommandAst]$Command) {
    $where = "line $($Command.Extent.StartLineNumber)"
    $first = $Command.CommandElements[0]
    if ($Command.InvocationOperator -eq 'Ampersand' -and -not (Test-WildcardSafe $first) -and
        $first -isnot [System.Management.Automation.Language.ScriptBlockExpressionAst]) {
        "${where}: & reads `"[`" and `"]`" in a program's path as wildcards in Windows PowerShell 5.1; start it with System.Diagnostics.Process"
    }
    $name = $Command.GetCommandName()
    if (-not $name) { return }
    if ($Aliases.ContainsKey($name)) { $name = $Aliases[$name] }
    if ($MissingCommands -contains $name) { "${where}: $name does not exist in Windows PowerShell 5.1" }
    if ($PipedOutput -and $ConsoleWriters -contains $name -and -not (Test-InsidePut $Command)) { "${where}: $name $ConsoleHint" }
    $wildcards = @($WildcardPaths[$name] | Where-Object { $_ })
    $positions = if ($WildcardPositions.ContainsKey($name)) { $WildcardPositions[$name] } elseif ($wildcards.Count) { 1 } else { 0 }
    # -LiteralPath stands in for the first of them only (Expand-Archive has none for -DestinationPath).
    $instead = if ($wildcards.Count -and $NoLiteralPath -notcontains $name) { "use -LiteralPath" } else { '' }
    $dotnet = 'use a .NET call, which takes paths as they are'

    $elements = $Command.CommandElements
    $positional = 0
    for ($i = 1; $i -lt $elements.Count; $i++) {
        $e = $elements[$i]
        if ($e -is [System.Management.Automation.Language.CommandParameterAst]) {
            $p = $e.ParameterName
            # PowerShell takes any unambiguous beginning of a parameter's name.
            $named = { param($full) $full.StartsWith($p, [StringComparison]::OrdinalIgnoreCase) }
            foreach ($missing in @($MissingParameters[$name])) {
                if ($missing -and (& $named $missing)) {
                    "${where}: $name -$p (-$missing) does not exist in Windows PowerShell 5.1"
                }
            }
            $value = $e.Argument
            if (-not $value -and -not @($Switches | Where-Object { & $named $_ }) -and $i + 1 -lt $elements.Count -and
                $elements[$i + 1] -isnot [System.Management.Automation.Language.CommandParameterAst]) {
                $value = $elements[++$i]
            }
            if ((& $named 'Encoding') -and $p.Length -ge 2) {
                if ($value -isnot [System.Management.Automation.Language.StringConstantExpressionAst]) {
                    "${where}: $name -Encoding takes a value that cannot be checked here; write one of $($Encodings51 -join ', ')"
                } elseif ($Encodings51 -notcontains $value.Value) {
                    "${where}: $name -Encoding $($value.Value) does not exist in Windows PowerShell 5.1"
                } elseif ($WritingCommands -contains $name -and $MarkedEncodings -contains $value.Value) {
                    "${where}: $name -Encoding $($value.Value) writes a byte-order mark in Windows PowerShell 5.1 (Oem: when the OEM code page is 65001); write the bytes with [IO.File]::WriteAllBytes"
                }
            }
            foreach ($w in $wildcards) {
                if ((& $named $w) -and -not (Test-WildcardSafe $value)) {
                    $hint = if ($instead -and $w -eq $wildcards[0]) { $instead } else { $dotnet }
                    "${where}: $name -$w reads `"[`" and `"]`" in a path as wildcards in Windows PowerShell 5.1; $hint"
                }
            }
        } else {
            if ($positional -lt $positions -and -not (Test-WildcardSafe $e)) {
                $hint = if ($instead -and $positional -eq 0) { $instead } else { $dotnet }
                "${where}: $name -$($wildcards[$positional]) (by position) reads `"[`" and `"]`" in a path as wildcards in Windows PowerShell 5.1; $hint"
            }
            $positional++
        }
    }
    # 7 takes any number of child paths by position; 5.1 takes a path and one child path.
    if ($name -eq 'Join-Path' -and $positional -gt 2) {
        "${where}: Join-Path with more than two paths does not exist in Windows PowerShell 5.1"
    }
}

function Find-Ps51Problem {
    param(
        [Parameter(Mandatory = $true)][System.Management.Automation.Language.Ast]$Ast,
        [System.Management.Automation.Language.Token[]]$Tokens = @()
    )
    foreach ($node in $Ast.FindAll({ $true }, $true)) {
        $where = "line $($node.Extent.StartLineNumber)"
        switch ($node.GetType().Name) {
            'TernaryExpressionAst' { "${where}: the ternary operator ?: does not exist in Windows PowerShell 5.1" }
            'PipelineChainAst' { "${where}: the pipeline chain operators && and || do not exist in Windows PowerShell 5.1" }
            'BinaryExpressionAst' {
                if ($node.Operator -eq 'QuestionQuestion') { "${where}: the operator ?? does not exist in Windows PowerShell 5.1" }
            }
            'AssignmentStatementAst' {
                if ($node.Operator -eq 'QuestionQuestionEquals') { "${where}: the operator ??= does not exist in Windows PowerShell 5.1" }
            }
            { $_ -in 'MemberExpressionAst', 'InvokeMemberExpressionAst' } {
                if ($node.NullConditional) { "${where}: the operator ?. does not exist in Windows PowerShell 5.1" }
                # WScript.Shell gives a shortcut's target in the ANSI code page: a name beyond it
                # comes back changed and no longer equals the path it was made with.
                if (-not $node.Static -and $node.Member -is [System.Management.Automation.Language.StringConstantExpressionAst] -and
                    $node.Member.Value -eq 'TargetPath' -and -not ($node.Parent -is [System.Management.Automation.Language.AssignmentStatementAst] -and
                        $node.Parent.Left -eq $node)) {
                    "${where}: reading TargetPath through WScript.Shell gives the ANSI code page's version of a path in Windows PowerShell 5.1; read GetLink.Path through Shell.Application"
                }
                if ($node.Static -and $node.Expression -is [System.Management.Automation.Language.TypeExpressionAst] -and
                    $node.Member -is [System.Management.Automation.Language.StringConstantExpressionAst]) {
                    $type = $node.Expression.TypeName.FullName -replace '^System\.', ''
                    $member = "${type}::$($node.Member.Value)"
                    if ($MissingStaticMembers -contains $member) {
                        "${where}: [$type]::$($node.Member.Value) does not exist in .NET Framework, under Windows PowerShell 5.1"
                    }
                    if ($PipedOutput -and $ConsoleMembers -contains $member -and -not (Test-InsidePut $node)) {
                        "${where}: [$type]::$($node.Member.Value) $ConsoleHint"
                    }
                }
                # "a,b".Split(", ") splits at each of the characters on .NET Framework but at
                # the whole string on .NET; the same text means two different things.
                if ($node -is [System.Management.Automation.Language.InvokeMemberExpressionAst] -and
                    $node.Member.Value -eq 'Split' -and $node.Arguments.Count -ge 1 -and
                    $node.Arguments[0] -is [System.Management.Automation.Language.StringConstantExpressionAst] -and
                    $node.Arguments[0].Value.Length -gt 1) {
                    "${where}: .Split with a string of several characters splits differently on Windows PowerShell 5.1"
                }
            }
            'IndexExpressionAst' {
                if ($node.NullConditional) { "${where}: the operator ?[] does not exist in Windows PowerShell 5.1" }
            }
            'ScriptBlockAst' {
                if ($node.CleanBlock) { "${where}: clean blocks do not exist in Windows PowerShell 5.1" }
            }
            'VariableExpressionAst' {
                if ($MissingVariables -contains $node.VariablePath.UserPath) {
                    "${where}: `$$($node.VariablePath.UserPath) is not set in Windows PowerShell 5.1"
                }
            }
            'CommandAst' { Get-CommandParameterProblems $node }
        }
    }
    # Escapes that 5.1 reads differently: "`u{...}" is a plain "u{...}" there, "`e" a plain "e".
    foreach ($t in $Tokens) {
        $stack = [System.Collections.Generic.Stack[object]]::new()
        $stack.Push($t)
        while ($stack.Count) {
            $token = $stack.Pop()
            if ($token.Kind -in 'StringExpandable', 'HereStringExpandable' -and $token.Text -match '`(u\{|e)') {
                "line $($token.Extent.StartLineNumber): the escape ``$($Matches[1]) does not exist in Windows PowerShell 5.1"
            }
            if ($token -is [System.Management.Automation.Language.StringExpandableToken] -and $token.NestedTokens) {
                foreach ($n in $token.NestedTokens) { $stack.Push($n) }
            }
        }
    }
}

# Parses text (or a file) and returns its parse errors and 5.1 problems as strings.
# -Console: the script talks to a console window of its own (the uninstaller), where 5.1 shows
# every letter the console's font has, so its console writers are fine; only a script read
# through a pipe (the install script) must write its lines with Put.
function Test-Ps51Text([string]$Text, [string]$Path, [switch]$Console) {
    $script:PipedOutput = -not $Console
    $tokens = $null
    $errors = $null
    if ($Path) {
        $ast = [System.Management.Automation.Language.Parser]::ParseFile($Path, [ref]$tokens, [ref]$errors)
    } else {
        $ast = [System.Management.Automation.Language.Parser]::ParseInput($Text, [ref]$tokens, [ref]$errors)
    }
    foreach ($e in $errors) { "line $($e.Extent.StartLineNumber): parse error: $($e.Message)" }
    Find-Ps51Problem -Ast $ast -Tokens $tokens
}
