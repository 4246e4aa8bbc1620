#!/bin/sh
# Installs the tools that run the install script's tests on Linux:
#   PowerShell 7 as a .NET tool in BUILD/tools/pwsh (the script itself targets
#   Windows PowerShell 5.1; its 5.1 compatibility is checked separately), and
#   Pester in BUILD/tools/pester/Pester/<version>, ready for Import-Module.
# Usage: tools/pwsh.sh [BUILD]   (BUILD defaults to ./build)
# Needs only dotnet. Running it again when both are in place does nothing.
set -eu

pwsh_version=7.6.10     # 7.7.0 does not restore on this machine's .NET
pester_version=5.7.1

build=${1:-build}
mkdir -p "$build"
build=$(cd "$build" && pwd)
tools=$build/tools
pwsh_dir=$tools/pwsh
pester_root=$tools/pester
pester_dir=$pester_root/Pester/$pester_version

# Keep dotnet quiet and from writing outside what it needs.
export DOTNET_CLI_TELEMETRY_OPTOUT=1
export DOTNET_NOLOGO=1
export DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1

# The tool's own store names the installed version; cheaper than starting PowerShell.
have_pwsh() {
	[ -x "$pwsh_dir/pwsh" ] && [ -d "$pwsh_dir/.store/powershell/$pwsh_version" ]
}

runs_pwsh() {
	"$pwsh_dir/pwsh" -NoProfile -NonInteractive -Command '$PSVersionTable.PSVersion.ToString()' 2>/dev/null |
		grep -qx "$pwsh_version"
}

if ! have_pwsh; then
	echo "pwsh.sh: installing PowerShell $pwsh_version into $pwsh_dir"
	# A half-finished or other-version install is replaced, not patched.
	if [ -d "$pwsh_dir" ]; then
		dotnet tool uninstall PowerShell --tool-path "$pwsh_dir" >/dev/null 2>&1 || true
	fi
	dotnet tool install PowerShell --version "$pwsh_version" --tool-path "$pwsh_dir"
	runs_pwsh || { echo "pwsh.sh: PowerShell $pwsh_version did not start from $pwsh_dir" >&2; exit 1; }
fi

if [ ! -f "$pester_dir/Pester.psd1" ]; then
	echo "pwsh.sh: fetching Pester $pester_version into $pester_root"
	work=$(mktemp -d)
	trap 'rm -rf "$work"' EXIT
	# A throwaway project whose only job is to make NuGet download the package's files.
	cat >"$work/fetch.csproj" <<EOF
<Project Sdk="Microsoft.NET.Sdk">
  <PropertyGroup>
    <TargetFramework>net$(dotnet --version | cut -d. -f1).0</TargetFramework>
  </PropertyGroup>
  <ItemGroup>
    <PackageDownload Include="Pester" Version="[$pester_version]" />
  </ItemGroup>
</Project>
EOF
	dotnet restore "$work/fetch.csproj" --packages "$work/packages" >"$work/restore.log" 2>&1 ||
		{ cat "$work/restore.log" >&2; exit 1; }
	src=$work/packages/pester/$pester_version
	# The package keeps the module at its root, beside NuGet's own bookkeeping files.
	[ -f "$src/Pester.psd1" ] || src=$src/tools
	[ -f "$src/Pester.psd1" ] || { echo "pwsh.sh: no Pester.psd1 in the downloaded package" >&2; exit 1; }
	rm -rf "$pester_dir"
	mkdir -p "$pester_dir.tmp"
	cp -R "$src/." "$pester_dir.tmp/"
	mv "$pester_dir.tmp" "$pester_dir"
fi
