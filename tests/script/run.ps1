# Runs one Pester file of the install script's tests; the exit code is the number of failures.
# Usage: pwsh -NoProfile -File run.ps1 -Tools BUILD/tools -Path tests/script/X.Tests.ps1
param(
    [Parameter(Mandatory = $true)][string]$Tools,
    [Parameter(Mandatory = $true)][string]$Path
)
$ErrorActionPreference = 'Stop'
# tools/pwsh.sh puts Pester at BUILD/tools/pester/Pester/<version>.
$manifest = Get-ChildItem -Path (Join-Path $Tools 'pester/Pester') -Filter Pester.psd1 -Recurse -Depth 1 |
    Sort-Object { [version]$_.Directory.Name } | Select-Object -Last 1
if (-not $manifest) { throw "no Pester under $Tools/pester; run tools/pwsh.sh first" }
Import-Module $manifest.FullName

$config = New-PesterConfiguration
$config.Run.Path = $Path
$config.Run.Exit = $true
$config.Output.Verbosity = 'Detailed'
$config.Output.CIFormat = 'None'
$config.Output.RenderMode = 'Plaintext'
Invoke-Pester -Configuration $config
