"""Checks what the built installer packages' tables make Windows Installer
do (msitools' msiinfo reads them):

    python3 tests/release/tables.py VERSION PACKAGE...

Prints one line per fault and exits 1 when there is any."""

import subprocess
import sys

# Custom-action type bits.
IN_SCRIPT, ROLLBACK, COMMIT, NO_IMPERSONATE = 0x400, 0x100, 0x200, 0x800
ACTIONS = {  # action: (entry, bits that must be set, bits that must be clear)
    "CheckSettings": ("CheckSettings", 0, IN_SCRIPT | ROLLBACK | COMMIT),
    "WriteSettingsRollback": ("SettingsRollback", IN_SCRIPT | ROLLBACK | NO_IMPERSONATE, COMMIT),
    "WriteSettings": ("WriteSettings", IN_SCRIPT | NO_IMPERSONATE, ROLLBACK | COMMIT),
    "RemoveSettingsRollback": ("SettingsRollback", IN_SCRIPT | ROLLBACK | NO_IMPERSONATE, COMMIT),
    "RemoveSettings": ("RemoveSettings", IN_SCRIPT | NO_IMPERSONATE, ROLLBACK | COMMIT),
    "SettingsCommit": ("SettingsCommit", IN_SCRIPT | COMMIT | NO_IMPERSONATE, ROLLBACK),
}
SECURE = {"SERVER", "PORT", "INTERVAL", "USERID", "BOOKMARKS", "AUTORUN"}
VERSION_MAX_INCLUSIVE, VERSION_MIN_INCLUSIVE, ONLY_DETECT = 0x200, 0x100, 0x2
TRANSITIVE = 0x40  # a component attribute


def table(package, name):
    out = subprocess.run(["msiinfo", "export", package, name], check=True, capture_output=True).stdout
    lines = out.decode("utf-8", errors="replace").split("\r\n")
    return [line.split("\t") for line in lines[3:] if line]


def faults(package, version):
    found = []
    actions = {row[0]: row for row in table(package, "CustomAction")}
    for name, (entry, need, never) in ACTIONS.items():
        row = actions.get(name)
        if row is None:
            found.append("no custom action %s" % name)
            continue
        kind = int(row[1])
        if kind & 0x3F != 1 or row[2] != "OrlimoSetup" or row[3] != entry:
            found.append("%s is not %s in orlimo-setup.dll: %s" % (name, entry, row[1:4]))
        if kind & need != need or kind & never:
            found.append("%s has type %d (0x%x)" % (name, kind, kind))
    seq = {row[0]: (int(row[2]), row[1]) for row in table(package, "InstallExecuteSequence")}
    at = lambda a: seq.get(a, (None,))[0]
    order = [("CheckSettings", "CostFinalize"), ("CheckSettings", "RemoveExistingProducts"),
             ("InstallValidate", "RemoveExistingProducts"), ("RemoveExistingProducts", "RemoveFiles"),
             ("RemoveExistingProducts", "InstallFiles"), ("InstallFiles", "WriteSettingsRollback"),
             ("WriteSettingsRollback", "WriteSettings"), ("RemoveFiles", "RemoveSettingsRollback"),
             ("RemoveSettingsRollback", "RemoveSettings"), ("SettingsCommit", "InstallFinalize")]
    for first, then in order:
        if at(first) is None or at(then) is None or not at(first) < at(then):
            found.append("%s (%s) does not come before %s (%s)" % (first, at(first), then, at(then)))
    for name in ("RemoveSettingsRollback", "RemoveSettings"):
        if "NOT UPGRADINGPRODUCTCODE" not in seq.get(name, (0, ""))[1]:
            found.append("%s also runs at an upgrade's removal on Windows" % name)
    upgrade = table(package, "Upgrade")
    older = [r for r in upgrade if r[6] == "WIX_UPGRADE_DETECTED"]
    newer = [r for r in upgrade if r[6] == "WIX_DOWNGRADE_DETECTED"]
    if not (len(older) == 1 and older[0][1] == "" and older[0][2] == version
            and int(older[0][4]) & (VERSION_MAX_INCLUSIVE | ONLY_DETECT) == VERSION_MAX_INCLUSIVE):
        found.append("the upgrade row does not replace lower and equal versions: %s" % older)
    if not (len(newer) == 1 and newer[0][1] == version and newer[0][2] == ""
            and int(newer[0][4]) & (VERSION_MIN_INCLUSIVE | ONLY_DETECT) == ONLY_DETECT):
        found.append("the downgrade row does not detect exactly the higher versions: %s" % newer)
    if len({r[0] for r in upgrade}) != 1:
        found.append("more than one upgrade code: %s" % upgrade)
    props = dict((r[0], r[1]) for r in table(package, "Property"))
    missing = SECURE - set(props.get("SecureCustomProperties", "").split(";"))
    if missing:
        found.append("SecureCustomProperties lacks %s" % ", ".join(sorted(missing)))
    if props.get("MSIUSEREALADMINDETECTION") != "1":
        found.append("MSIUSEREALADMINDETECTION is not 1: AdminUser would be set for whoever starts an "
                     "installation that runs elevated")
    if props.get("ProductVersion") != version:
        found.append("ProductVersion is %s" % props.get("ProductVersion"))
    components = {r[0]: r for r in table(package, "Component")}
    autorun = components.get("Autorun", [""] * 6)
    if autorun[4] != "OrlimoAutorun":
        found.append("the Autorun component's condition is %r" % autorun[4])
    if not autorun[3].isdigit() or not int(autorun[3]) & TRANSITIVE:
        found.append("the Autorun component is not transitive (a reinstall would not evaluate "
                     "its condition again): attributes %r" % autorun[3])
    return found


def main():
    version, packages = sys.argv[1], sys.argv[2:]
    bad = 0
    for package in packages:
        for fault in faults(package, version):
            print("%s: %s" % (package, fault))
            bad += 1
    return 1 if bad or not packages else 0


if __name__ == "__main__":
    sys.exit(main())
