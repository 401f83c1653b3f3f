"""Checks the Group Policy templates against the values the program reads:

    python3 tests/release/policy_templates.py LIMITS_H ADMX ADML...

LIMITS_H is src/core/limits.h, whose kManagedValues table (one entry a
line) is the program's list of policy values, their kinds, ranges and
classes. Each value is one policy of the ADMX under Software\\Policies\\orlimo,
a text element for text, a decimal element with the same range for a number
(autorun: the policy's own enabled 1 / disabled 0), of class Machine, User or
Both as the table allows; no policy names another value. Each ADML defines
every string and presentation the ADMX refers to, and its presentations
refer to the elements there are. Prints one line per fault and exits 1 when
there is any."""

import re
import sys
import xml.etree.ElementTree as ET

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
KEY = "Software\\Policies\\orlimo"
ENTRY = re.compile(r'^\s*\{"(\w+)",\s*ValueKind::(Text|Number),\s*(-?\d+),\s*(-?\d+),\s*(true|false),\s*(true|false)\},\s*$')


def managed_values(limits_h):
    text = open(limits_h, encoding="utf-8").read()
    body = text[text.index("kManagedValues[] = {"):]
    body = body[:body.index("};")]
    values = {}
    for line in body.splitlines()[1:]:
        m = ENTRY.match(line)
        if not m:
            raise ValueError("%s: a line of kManagedValues this check cannot read: %r" % (limits_h, line))
        name, kind, low, high, machine, user = m.groups()
        values[name] = {"kind": kind, "min": int(low), "max": int(high),
                        "machine": machine == "true", "user": user == "true"}
    return values


def faults(limits_h, admx, admls):
    found = []
    values = managed_values(limits_h)
    if not values:
        return ["%s: no managed values read" % limits_h]
    root = ET.parse(admx).getroot()
    strings, presentations = set(), {}
    seen = {}
    for policy in root.iterfind("p:policies/p:policy", NS):
        name = policy.get("name")
        if policy.get("key") != KEY:
            found.append("%s: key %r" % (name, policy.get("key")))
        for attr in ("displayName", "explainText"):
            strings.update(re.findall(r"\$\(string\.(\w+)\)", policy.get(attr, "")))
        named = []
        if policy.get("valueName"):
            named.append((policy.get("valueName"), "flag", policy))
        for element in policy.iterfind("p:elements/*", NS):
            named.append((element.get("valueName"), element.tag.split("}")[1], element))
        refs = re.findall(r"\$\(presentation\.(\w+)\)", policy.get("presentation", ""))
        if refs:
            presentations[refs[0]] = [e.get("id") for _, kind, e in named if kind != "flag"]
        for value, kind, element in named:
            if value in seen:
                found.append("%s: %s is set by %s too" % (name, value, seen[value]))
            seen[value] = name
            want = values.get(value)
            if want is None:
                found.append("%s: the program reads no value %r" % (name, value))
                continue
            cls = {(True, True): "Both", (True, False): "Machine", (False, True): "User"}[
                (want["machine"], want["user"])]
            if policy.get("class") != cls:
                found.append("%s: class %s, the program takes %s from %s" % (name, policy.get("class"), value, cls))
            if want["kind"] == "Text" and kind != "text":
                found.append("%s: %s is text, not %s" % (name, value, kind))
            elif want["kind"] == "Number" and kind == "decimal":
                limits = (int(element.get("minValue", "0")), int(element.get("maxValue", "4294967295")))
                if limits != (want["min"], want["max"]):
                    found.append("%s: %s from %s to %s, the program's limits are %s to %s"
                                 % (name, value, limits[0], limits[1], want["min"], want["max"]))
            elif want["kind"] == "Number" and kind == "flag":
                on = element.find("p:enabledValue/p:decimal", NS)
                off = element.find("p:disabledValue/p:decimal", NS)
                given = {int(v.get("value")) for v in (on, off) if v is not None}
                if given != {want["min"], want["max"]} or (want["min"], want["max"]) != (0, 1):
                    found.append("%s: %s takes %s, the program %s to %s" % (name, value, sorted(given), want["min"],
                                                                           want["max"]))
            elif want["kind"] == "Number":
                found.append("%s: %s is a number, not %s" % (name, value, kind))
    for missing in sorted(set(values) - set(seen)):
        found.append("no policy sets %s, which the program reads" % missing)
    for element in root.iter():
        for attr in element.attrib.values():
            strings.update(re.findall(r"\$\(string\.(\w+)\)", attr))
    for adml in admls:
        res = ET.parse(adml).getroot()
        defined = {s.get("id") for s in res.iterfind("p:resources/p:stringTable/p:string", NS)}
        for missing in sorted(strings - defined):
            found.append("%s: no string %s" % (adml, missing))
        shown = {p.get("id"): p for p in res.iterfind("p:resources/p:presentationTable/p:presentation", NS)}
        for pid, ids in presentations.items():
            if pid not in shown:
                found.append("%s: no presentation %s" % (adml, pid))
                continue
            refs = sorted(c.get("refId") for c in shown[pid])
            if refs != sorted(ids):
                found.append("%s: presentation %s shows %s, the policy has %s" % (adml, pid, refs, sorted(ids)))
    return found


def main():
    limits_h, admx, admls = sys.argv[1], sys.argv[2], sys.argv[3:]
    bad = faults(limits_h, admx, admls)
    for fault in bad:
        print(fault)
    return 1 if bad or not admls else 0


if __name__ == "__main__":
    sys.exit(main())
