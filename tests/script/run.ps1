# Runs one block of a Pester file of the install script's tests: the Part-th It or Context of its
# top-level Describe blocks, in the file's order, with the BeforeAll of the Describe around it.
# One block a test keeps every test short; the exit code is the number of failures.
# Usage: pwsh -NoProfile -File run.ps1 -Tools BUILD/tools -Path tests/script/X.Tests.ps1 -Part K -Parts N
param(
    [Parameter(Mandatory = $true)][string]$Tools,
    [Parameter(Mandatory = $true)][string]$Path,
    [Parameter(Mandatory = $true)][int]$Part,
    [Parameter(Mandatory = $true)][int]$Parts
)
$ErrorActionPreference = 'Stop'

function Get-Blocks([string]$File) {
    $ast = [System.Management.Automation.Language.Parser]::ParseFile($File, [ref]$null, [ref]$null)
    $ast.FindAll({
            param($node)
            if ($node -isnot [System.Management.Automation.Language.CommandAst]) { return $false }
            if ($node.GetCommandName() -notin 'It', 'Context') { return $false }
            # Its blocks around it, innermost first: exactly one, a Describe.
            $around = @()
            for ($up = $node.Parent; $up; $up = $up.Parent) {
                if ($up -is [System.Management.Automation.Language.CommandAst] -and
                    $up.GetCommandName() -in 'Describe', 'Context', 'It') { $around += $up.GetCommandName() }
            }
            return ($around -join ',') -eq 'Describe'
        }, $true) | Sort-Object { $_.Extent.StartLineNumber }
}

$blocks = @(Get-Blocks $Path)
if ($blocks.Count -ne $Parts) {
    throw "$Path has $($blocks.Count) blocks but the build registered $Parts; configure the build again"
}
$line = $blocks[$Part - 1].Extent.StartLineNumber

# tools/pwsh.sh puts Pester at BUILD/tools/pester/Pester/<version>.
$manifest = Get-ChildItem -Path (Join-Path $Tools 'pester/Pester') -Filter Pester.psd1 -Recurse -Depth 1 |
    Sort-Object { [version]$_.Directory.Name } | Select-Object -Last 1
if (-not $manifest) { throw "no Pester under $Tools/pester; run tools/pwsh.sh first" }
Import-Module $manifest.FullName

$config = New-PesterConfiguration
$config.Run.Path = $Path
$config.Run.PassThru = $true
$config.Filter.Line = "$((Resolve-Path -LiteralPath $Path).Path):$line"
$config.Output.Verbosity = 'Detailed'
$config.Output.CIFormat = 'None'
$config.Output.RenderMode = 'Plaintext'
$result = Invoke-Pester -Configuration $config
# A block that ran no test at all passes nothing.
if ($result.TotalCount -eq 0 -or $result.PassedCount + $result.FailedCount -eq 0) {
    Write-Host "no test ran in the block at line $line of $Path"
    exit 1
}
exit ($result.FailedCount + $result.FailedBlocksCount + $result.FailedContainersCount)
