# PowerShell profile for the scripts' test runs: it stands in for what PowerShell on Linux
# lacks or must not reach (the network, Windows Forms, COM, the registry, a file that another
# program holds open, the clock). The scripts call Add-Type, New-Object, Rename-Item,
# Get-ItemProperty and Start-Sleep by their plain names, and functions come before cmdlets when
# a name is looked up, so these take their place while the script text stays as it is. Every
# call is appended to $env:VORLEN_TEST_LOG in the stand-in programs' format.
#
# Set by the test for one run:
#   VORLEN_TEST_WEB          folder of downloadable files, each named after its URL's host and
#                            path with "/" as "_"; any other URL fails as a 404 would
#   VORLEN_TEST_DOWNLOAD_CUT "1" makes every download break off half-way, leaving half a file
#   VORLEN_TEST_OPEN_FILE    "ok:<path>" confirms the file dialog with that path; else cancelled
#   VORLEN_TEST_FOLDER       "ok:<path>" confirms the folder dialog with that path (which may
#                            be empty); else cancelled
#   VORLEN_TEST_SHORTCUT_FAIL  "1" makes saving a shortcut through Shell.Application fail
#   VORLEN_TEST_WSH_FAIL     "1" makes saving one through WScript.Shell fail
#   VORLEN_TEST_PROXY        the proxy Windows names for every address (.NET's default proxy)
#   VORLEN_TEST_DEFENDER     "on" or "off": Microsoft Defender's real-time protection
#   VORLEN_TEST_LANGUAGE_MODE  the language mode the script runs in, as an administrator's
#                            policy sets it (ConstrainedLanguage)
#   VORLEN_TEST_IN_USE       the name of an entry that Rename-Item cannot rename, as a file
#                            that a running program holds open
# A dialog also writes "~ open-file-dialog" or "~ folder-dialog" to the output when it opens,
# so that the tests see where it came among the script's messages.

# PowerShell 7 colours its error messages with escape sequences even into a pipe; Windows
# PowerShell 5.1 writes them as plain text.
$PSStyle.OutputRendering = 'PlainText'

function global:Write-TestRecord([string]$Name, [string[]]$Fields) {
    $line = (@($Name, '--') + $Fields) -join "`t"
    [IO.File]::AppendAllText($env:VORLEN_TEST_LOG, "$line`n")
}

# Plain functions rather than advanced ones: everything but the doubled calls (the script's
# Add-Type of the ZIP classes, for one) goes on to the real cmdlet with its arguments untouched.
function global:Add-Type {
    if ($args.Count -eq 2 -and "$($args[0])" -eq '-AssemblyName' -and "$($args[1])" -eq 'System.Windows.Forms') {
        Write-TestRecord 'add-type' @('System.Windows.Forms')
        return
    }
    Microsoft.PowerShell.Utility\Add-Type @args
}

function global:Read-TestAnswer([string]$Variable) {
    # "ok:<text>" confirms a dialog with <text>; anything else (or nothing) cancels it.
    $value = [Environment]::GetEnvironmentVariable($Variable)
    if ($value -and $value.StartsWith('ok:')) { return @('OK', $value.Substring(3)) }
    return @('Cancel', '')
}

# A shortcut file as the stand-in shell saves one: the link's first 80 bytes, then its target.
function global:Write-TestShortcut([string]$File, [string]$Target) {
    $head = New-Object byte[] 80
    $head[0] = 0x4C
    [Array]::Copy(([guid]'00021401-0000-0000-C000-000000000046').ToByteArray(), 0, $head, 4, 16)
    [IO.File]::WriteAllBytes($File, [byte[]]($head + [Text.Encoding]::UTF8.GetBytes($Target)))
}

# The argument that follows a parameter's name among a plain function's arguments.
function global:Get-TestArgument([object[]]$Arguments, [string]$Name) {
    $i = [array]::IndexOf($Arguments, $Name)
    if ($i -ge 0 -and $i + 1 -lt $Arguments.Count) { "$($Arguments[$i + 1])" } else { '' }
}

# A file in use: Windows refuses to rename it, or the folder that holds it.
function global:Rename-Item {
    $path = Get-TestArgument $args '-LiteralPath'
    if ($env:VORLEN_TEST_IN_USE -and [IO.Path]::GetFileName($path) -eq $env:VORLEN_TEST_IN_USE) {
        Write-TestRecord 'in-use' @($path)
        throw "The process cannot access the file '$path' because it is being used by another process."
    }
    Write-TestRecord 'rename' @($path, (Get-TestArgument $args '-NewName'))
    Microsoft.PowerShell.Management\Rename-Item @args
}

# The clock: a pause is recorded and returns at once, so that a run that waits for a program
# to end (the uninstaller's three tries) takes no longer than one that does not.
function global:Start-Sleep {
    Write-TestRecord 'sleep' @($args | ForEach-Object { "$_" })
}

# The registry provider, for the one key that the stand-in reg.exe keeps.
function global:Get-ItemProperty {
    $path = Get-TestArgument $args '-LiteralPath'
    if ($path -notlike 'Registry::*') { return Microsoft.PowerShell.Management\Get-ItemProperty @args }
    Write-TestRecord 'get-itemproperty' @($path)
    $store = Join-Path $env:VORLEN_TEST_STATE 'registry'
    if ($path -ne 'Registry::HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorlen' -or
        -not [IO.Directory]::Exists($store)) {
        throw "Cannot find path '$path' because it does not exist."
    }
    $values = [ordered]@{}
    foreach ($file in [IO.Directory]::GetFiles($store)) { $values[[IO.Path]::GetFileName($file)] = [IO.File]::ReadAllText($file) }
    [pscustomobject]$values
}

function global:New-Object {
    if ($args.Count -eq 2 -and "$($args[0])" -eq '-ComObject' -and "$($args[1])" -eq 'WScript.Shell') {
        # WScript.Shell as far as shortcuts go: CreateShortcut(file), its properties and Save.
        $wsh = [pscustomobject]@{}
        $wsh | Add-Member ScriptMethod CreateShortcut {
            param([string]$File)
            $link = [pscustomobject]@{ File = $File; TargetPath = ''; Arguments = ''; WorkingDirectory = ''; Description = '' }
            $link | Add-Member ScriptMethod Save {
                if ($env:VORLEN_TEST_WSH_FAIL -eq '1') { throw 'Unable to save shortcut "x".' }
                [IO.File]::WriteAllBytes($this.File, [byte[]](76, 0, 0, 0))
                Write-TestRecord 'wsh-shortcut' @($this.File, "TargetPath=$($this.TargetPath)",
                    "WorkingDirectory=$($this.WorkingDirectory)", "Description=$($this.Description)", "Arguments=$($this.Arguments)")
            }
            return $link
        }
        return $wsh
    }
    if ($args.Count -eq 2 -and "$($args[0])" -eq '-ComObject') {
        if ("$($args[1])" -ne 'Shell.Application') { throw "no stand-in for COM object $($args[1])" }
        # Shell.Application as far as shortcuts go: NameSpace(folder).ParseName(name).GetLink
        # finds an existing shortcut file, as the shell does; its Save records the properties,
        # and whether the file it edits begins as a shell link does (the header's size and
        # the class id 00021401-0000-0000-C000-000000000046).
        $shell = [pscustomobject]@{}
        $shell | Add-Member ScriptMethod NameSpace {
            param([string]$Folder)
            $namespace = [pscustomobject]@{ Folder = $Folder }
            $namespace | Add-Member ScriptMethod ParseName {
                param([string]$Name)
                $file = "$($this.Folder)\$Name"
                if (-not [IO.File]::Exists($file)) { return $null }
                # A saved shortcut keeps its target after the 80 bytes of the shell link
                # (UTF-8); reading it is recorded, as "read-shortcut".
                $bytes = [IO.File]::ReadAllBytes($file)
                $target = if ($bytes.Length -gt 80) { [Text.Encoding]::UTF8.GetString($bytes, 80, $bytes.Length - 80) } else { '' }
                $link = [pscustomobject]@{ File = $file; Target = $target; Arguments = ''; WorkingDirectory = ''; Description = '' }
                $link | Add-Member ScriptProperty Path { Write-TestRecord 'read-shortcut' @($this.File, $this.Target); $this.Target } { param($value) $this.Target = $value }
                $link | Add-Member ScriptMethod Save {
                    if ($env:VORLEN_TEST_SHORTCUT_FAIL -eq '1') { throw 'Unspecified error (Exception from HRESULT: 0x80004005 (E_FAIL))' }
                    $head = ([IO.File]::ReadAllBytes($this.File) | Select-Object -First 20) -join ','
                    $isLink = $head -eq '76,0,0,0,1,20,2,0,0,0,0,0,192,0,0,0,0,0,0,70'
                    Write-TestRecord 'shortcut' @($this.File, "Path=$($this.Target)",
                        "WorkingDirectory=$($this.WorkingDirectory)", "Description=$($this.Description)",
                        "Arguments=$($this.Arguments)", "ShellLink=$isLink")
                    Write-TestShortcut $this.File $this.Target
                }
                return [pscustomobject]@{ GetLink = $link }
            }
            return $namespace
        }
        return $shell
    }
    $typeName = if ($args.Count -eq 1) { "$($args[0])" } elseif ($args.Count -eq 2 -and "$($args[0])" -eq '-TypeName') { "$($args[1])" }
    switch ($typeName) {
        'System.Net.WebClient' {
            $client = [pscustomobject]@{ Headers = [Net.WebHeaderCollection]::new(); Proxy = [Net.WebProxy]::new() }
            $client | Add-Member ScriptMethod DownloadFile {
                param([string]$Address, [string]$FileName)
                $proxyCredentials = if ([object]::ReferenceEquals($this.Proxy.Credentials, [Net.CredentialCache]::DefaultNetworkCredentials)) { 'signed-in account' } else { 'none' }
                Write-TestRecord 'download' @($Address, $FileName, "ProxyCredentials=$proxyCredentials")
                $parsed = [uri]$Address
                $file = Join-Path $env:VORLEN_TEST_WEB (($parsed.Host + $parsed.AbsolutePath) -replace '/', '_')
                if ($parsed.Scheme -ne 'https' -or -not (Test-Path -LiteralPath $file -PathType Leaf)) {
                    throw 'The remote server returned an error: (404) Not Found.'
                }
                # A copy keeps the stand-in installer's execute permission.
                Copy-Item -LiteralPath $file -Destination $FileName -Force
                if ($env:VORLEN_TEST_DOWNLOAD_CUT -eq '1') {
                    $bytes = [IO.File]::ReadAllBytes($FileName)
                    [IO.File]::WriteAllBytes($FileName, $bytes[0..($bytes.Length / 2)])
                    throw 'Unable to read data from the transport connection: An existing connection was forcibly closed by the remote host.'
                }
            }
            $client | Add-Member ScriptMethod Dispose { }
            return $client
        }
        'System.Windows.Forms.OpenFileDialog' {
            $dialog = [pscustomobject]@{ Title = ''; Filter = ''; FileName = '' }
            $dialog | Add-Member ScriptMethod ShowDialog {
                Write-TestRecord 'open-file-dialog' @($this.Title, $this.Filter)
                Write-Host '~ open-file-dialog'
                $result, $this.FileName = Read-TestAnswer 'VORLEN_TEST_OPEN_FILE'
                return $result
            }
            return $dialog
        }
        'System.Windows.Forms.FolderBrowserDialog' {
            $dialog = [pscustomobject]@{ Description = ''; ShowNewFolderButton = $false; SelectedPath = '' }
            $dialog | Add-Member ScriptMethod ShowDialog {
                Write-TestRecord 'folder-dialog' @($this.Description, "ShowNewFolderButton=$($this.ShowNewFolderButton)")
                Write-Host '~ folder-dialog'
                $result, $this.SelectedPath = Read-TestAnswer 'VORLEN_TEST_FOLDER'
                return $result
            }
            return $dialog
        }
    }
    Microsoft.PowerShell.Utility\New-Object @args
}

# Microsoft Defender's status, as its module reports it on Windows.
if ($env:VORLEN_TEST_DEFENDER) {
    function global:Get-MpComputerStatus {
        [pscustomobject]@{ RealTimeProtectionEnabled = $env:VORLEN_TEST_DEFENDER -eq 'on'; AMRunningMode = 'Normal' }
    }
}

# The proxy that Windows' settings name, which .NET's default proxy follows.
if ($env:VORLEN_TEST_PROXY) { [Net.WebRequest]::DefaultWebProxy = [Net.WebProxy]::new($env:VORLEN_TEST_PROXY) }

# Last, so that the stand-ins above are made in full language; the script gets the mode.
if ($env:VORLEN_TEST_LANGUAGE_MODE) { $ExecutionContext.SessionState.LanguageMode = $env:VORLEN_TEST_LANGUAGE_MODE }
