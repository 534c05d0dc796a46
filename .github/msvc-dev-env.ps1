# Sets up the MSVC developer environment of one target architecture for the later steps of a
# GitHub Actions job (through GITHUB_ENV), with whichever Visual Studio is installed: the
# newest instance that has the C++ tools for that target, found by vswhere.
#   -Arch x64         x64 tools for x64
#   -Arch arm64       ARM64-hosted tools for ARM64 (an ARM64 machine)
#   -Arch x64_arm64   x64-hosted tools for ARM64 (the cross build on an x64 machine)
# Prints the Visual Studio, compiler, CMake and Ninja that the build will use.
param([Parameter(Mandatory)][ValidateSet('x64', 'arm64', 'x64_arm64')][string]$Arch)
$ErrorActionPreference = 'Stop'
$PSNativeCommandUseErrorActionPreference = $true

$component = @{
    'x64'       = 'Microsoft.VisualStudio.Component.VC.Tools.x86.x64'
    'arm64'     = 'Microsoft.VisualStudio.Component.VC.Tools.ARM64'
    'x64_arm64' = 'Microsoft.VisualStudio.Component.VC.Tools.ARM64'
}[$Arch]
$vswhere = Join-Path ${env:ProgramFiles(x86)} 'Microsoft Visual Studio\Installer\vswhere.exe'
if (-not (Test-Path $vswhere)) {
    $vswhere = Join-Path $env:ProgramFiles 'Microsoft Visual Studio\Installer\vswhere.exe'
}
$instance = & $vswhere -latest -products * -requires $component -format json | ConvertFrom-Json
if (-not $instance) { throw "no Visual Studio instance has the C++ tools for $Arch ($component)" }
"Visual Studio: $($instance[0].displayName) $($instance[0].installationVersion) at $($instance[0].installationPath)"

$vcvars = Join-Path $instance[0].installationPath 'VC\Auxiliary\Build\vcvarsall.bat'
# vcvarsall reports some failures only as text, with exit status 0: its own output is shown,
# and its environment must name the tools for the target afterwards.
$lines = & cmd.exe /d /s /c "`"$vcvars`" $Arch && echo ::vcvarsall-environment:: && set"
$marker = [array]::IndexOf($lines, '::vcvarsall-environment:: ')
if ($marker -lt 0) { $marker = [array]::IndexOf($lines, '::vcvarsall-environment::') }
if ($marker -lt 0) { throw "vcvarsall $Arch printed no environment: $($lines -join "`n")" }
if ($marker -gt 0) { $lines[0..($marker - 1)] | Where-Object { $_ } | ForEach-Object { "vcvarsall: $_" } }
$environment = @{}
foreach ($line in $lines[($marker + 1)..($lines.Count - 1)]) {
    if ($line -match '^([^=]+)=(.*)$') { $environment[$Matches[1]] = $Matches[2] }
}
if (-not $environment['VCToolsInstallDir'] -or $environment['VSCMD_ARG_TGT_ARCH'] -ne ($Arch -replace '^x64_', '')) {
    throw "vcvarsall $Arch did not set up the tools for $Arch"
}
foreach ($name in $environment.Keys) {
    if ([Environment]::GetEnvironmentVariable($name) -ne $environment[$name]) {
        "$name=$($environment[$name])" >> $env:GITHUB_ENV
        [Environment]::SetEnvironmentVariable($name, $environment[$name])
    }
}
foreach ($tool in 'cl', 'link', 'cmake', 'ninja', 'signtool') {
    $found = Get-Command $tool -ErrorAction SilentlyContinue
    if (-not $found -and $tool -ne 'signtool') { throw "$tool is not on the developer environment's PATH" }
    "${tool}: $(if ($found) { $found.Source } else { 'not found' })"
}
(& cmake --version)[0]
"ninja $(& ninja --version)"
