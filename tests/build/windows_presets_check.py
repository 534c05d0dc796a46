#!/usr/bin/env python3
"""Checks the Windows presets on a host that cannot use them: a copy of CMakePresets.json
without the host condition, the vcpkg toolchain and the MSVC compiler settings configures a
small project whose tests carry the project's labels, with the presets' own generator; each
Windows test preset must then select exactly its tests, in its build configuration. The
configure presets' settings that only a Windows machine would act on (configurations,
triplets, overlay triplets, generator, architecture strategy) are checked from the file, and
so are the Windows workflows' references to them: every preset a workflow names exists, the
cache's triplet is its preset's, and every script a workflow runs is in the repository.

    windows_presets_check.py        exit status 1 with one line per fault"""

import json
import pathlib
import re
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[2]
DEVELOPER = {"unit_test", "build_check"}
HOSTED = {"installer_admin", "e2e_driver_setup"}
AUDIO = {"ProcessLoopbackActivation", "windows_tone_capture"}
# Test preset: (tests it selects, configuration they run in)
TEST_PRESETS = {
    "windows-x64": (DEVELOPER, "RelWithDebInfo"),
    "windows-x64-debug": (DEVELOPER, "Debug"),
    "windows-arm64": (DEVELOPER, "RelWithDebInfo"),
    "windows-arm64-debug": (DEVELOPER, "Debug"),
    "windows-x64-ci": (DEVELOPER, "RelWithDebInfo"),
    "windows-arm64-ci": (DEVELOPER, "RelWithDebInfo"),
    "windows-x64-ci-hosted": (HOSTED, "RelWithDebInfo"),
    "windows-arm64-ci-hosted": (HOSTED, "RelWithDebInfo"),
    "windows-x64-audio": (AUDIO, "RelWithDebInfo"),
    "windows-arm64-audio": (AUDIO, "RelWithDebInfo"),
}
# Configure preset: (configurations, triplet, overlay triplet expected)
CONFIGURE_PRESETS = {
    "windows-x64": ("Debug;Release;RelWithDebInfo", "x64-windows-static", False),
    "windows-arm64": ("Debug;Release;RelWithDebInfo", "arm64-windows-static", False),
    "windows-x64-ci": ("RelWithDebInfo", "x64-windows-static-release", True),
    "windows-arm64-ci": ("RelWithDebInfo", "arm64-windows-static-release", True),
}
PROJECT = """cmake_minimum_required(VERSION 3.25)
project(presets NONE)
enable_testing()
foreach(test unit_test:unit build_check:build installer_admin:unit,admin
             e2e_driver_setup:e2e,native e2e_host_cli:e2e wine_list:wine
             ProcessLoopbackActivation:unit windows_tone_capture:audio)
    string(REPLACE ":" ";" parts "${test}")
    list(GET parts 0 name)
    list(GET parts 1 labels)
    string(REPLACE "," ";" labels "${labels}")
    add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "configuration=$<CONFIG>")
    set_tests_properties(${name} PROPERTIES LABELS "${labels}")
endforeach()
"""


def _strip(node):
    if isinstance(node, dict):
        return {k: _strip(v) for k, v in node.items() if k not in ("condition", "toolchainFile")}
    if isinstance(node, list):
        return [_strip(v) for v in node]
    return node


def _resolved(presets, name, field):
    """A configure preset's field, its cacheVariables merged along its inheritance."""
    preset = next(p for p in presets if p["name"] == name)
    parents = preset.get("inherits", [])
    parents = [parents] if isinstance(parents, str) else parents
    if field == "cacheVariables":
        merged = {}
        for parent in reversed(parents):
            merged.update(_resolved(presets, parent, field))
        merged.update(preset.get(field, {}))
        return merged
    if field in preset:
        return preset[field]
    for parent in parents:
        found = _resolved(presets, parent, field)
        if found is not None:
            return found
    return None


def file_faults(presets):
    faults = []
    for name, (configurations, triplet, overlay) in CONFIGURE_PRESETS.items():
        variables = _resolved(presets, name, "cacheVariables")
        if _resolved(presets, name, "generator") != "Ninja Multi-Config":
            faults.append("%s: generator is not Ninja Multi-Config" % name)
        for field in ("architecture", "toolset"):
            value = _resolved(presets, name, field)
            if not isinstance(value, dict) or value.get("strategy") != "external":
                faults.append("%s: %s strategy is not external" % (name, field))
        if variables.get("CMAKE_CONFIGURATION_TYPES") != configurations:
            faults.append("%s: configurations %r, not %r" %
                          (name, variables.get("CMAKE_CONFIGURATION_TYPES"), configurations))
        if variables.get("VCPKG_TARGET_TRIPLET") != triplet:
            faults.append("%s: triplet %r, not %r" % (name, variables.get("VCPKG_TARGET_TRIPLET"),
                                                      triplet))
        if variables.get("VCPKG_MANIFEST_NO_DEFAULT_FEATURES") != "ON":
            faults.append("%s: vcpkg's default features (benchmark) are not left off" % name)
        triplet_file = ROOT / "triplets" / (triplet + ".cmake")
        if overlay != triplet_file.exists() or overlay != ("VCPKG_OVERLAY_TRIPLETS" in variables):
            faults.append("%s: overlay triplet %s %s" % (
                name, triplet, "missing" if overlay else "unexpected"))
        elif overlay and "set(VCPKG_BUILD_TYPE release)" not in triplet_file.read_text():
            faults.append("%s: %s builds Debug as well" % (name, triplet))
    return faults


def workflow_faults(document):
    """What the Windows workflows name that does not exist or does not match."""
    kinds = {kind: {p["name"]: p for p in document[kind]}
             for kind in ("configurePresets", "buildPresets", "testPresets")}
    faults = []
    for workflow in sorted((ROOT / ".github" / "workflows").glob("windows*.yml")):
        text = workflow.read_text()
        # The values ${{ matrix.preset }} or ${{ inputs.preset }} take.
        values = re.findall(r"^\s+preset: (windows-\S+)$", text, re.M)
        values += re.findall(r"^\s+- (windows-\S+)$", text, re.M)
        if not values:
            faults.append("%s: names no preset" % workflow.name)
        for command, suffix in re.findall(
                r"(cmake --build|cmake|ctest) --preset \$\{\{ \w+\.preset \}\}([-\w]*)", text):
            kind = {"cmake": "configurePresets", "cmake --build": "buildPresets",
                    "ctest": "testPresets"}[command]
            for value in values:
                if value + suffix not in kinds[kind]:
                    faults.append("%s: %s --preset %s: no such preset" % (
                        workflow.name, command, value + suffix))
        for preset, triplet in re.findall(
                r"^\s+preset: (\S+)\n\s+triplet: (\S+)$", text, re.M):
            if preset in kinds["configurePresets"]:
                wanted = _resolved(document["configurePresets"], preset, "cacheVariables").get(
                    "VCPKG_TARGET_TRIPLET")
                if triplet != wanted:
                    faults.append("%s: %s caches triplet %s, its preset builds %s" % (
                        workflow.name, preset, triplet, wanted))
        for script in re.findall(r"(?:python |\./)((?:tests|\.github)/[\w./-]+\.(?:py|ps1))", text):
            if not (ROOT / script).is_file():
                faults.append("%s: runs %s, which does not exist" % (workflow.name, script))
    return faults


def selection_faults(work):
    faults = []
    for preset, (tests, configuration) in TEST_PRESETS.items():
        run = subprocess.run(["ctest", "--preset", preset, "-V"], cwd=work, text=True,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
        ran = set(re.findall(r"^\s*\d+/\d+ Test\s+#\d+: (\S+)", run.stdout, re.M))
        configurations = set(re.findall(r"configuration=(\w+)", run.stdout))
        if run.returncode != 0 or ran != tests:
            faults.append("%s selects %s, not %s" % (preset, sorted(ran), sorted(tests)))
        if configurations != {configuration}:
            faults.append("%s runs in %s, not %s" % (preset, sorted(configurations),
                                                     configuration))
    return faults


def main():
    document = json.loads((ROOT / "CMakePresets.json").read_text())
    faults = file_faults(document["configurePresets"]) + workflow_faults(document)
    with tempfile.TemporaryDirectory(prefix="quorle-presets-") as tmp:
        work = pathlib.Path(tmp)
        copy = _strip(document)
        for preset in copy["configurePresets"]:
            for variable in ("CMAKE_C_COMPILER", "CMAKE_CXX_COMPILER", "CMAKE_C_FLAGS",
                             "CMAKE_CXX_FLAGS"):
                preset.get("cacheVariables", {}).pop(variable, None)
        (work / "CMakePresets.json").write_text(json.dumps(copy))
        (work / "CMakeLists.txt").write_text(PROJECT)
        for preset in CONFIGURE_PRESETS:
            run = subprocess.run(["cmake", "--preset", preset, "-Wno-dev"], cwd=work, text=True,
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
            if run.returncode != 0:
                faults.append("%s does not configure: %s" % (preset, run.stdout.strip()))
        faults += selection_faults(work)
    for fault in faults:
        print(fault)
    print("windows presets: %s" % ("%d faults" % len(faults) if faults else "ok"))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
