#!/usr/bin/env python3
"""The user-interface texts of res/orlimo.rc, for programs that do not read
Windows resources: the Qt front end (as a generated C++ header) and its
tests (as Python data).

    python3 tools/rc_texts.py OUTPUT.h [RC [RESOURCE_H]]

parse(rc_path, resource_h_path) returns a dict:

    menu     the tray menu (the first popup of menu IDR_MAINFRAME) as a tree:
             {"kind": "item"|"separator"|"popup", "text", "id", "flags",
              "children"}; flags is a set of CHECKED, INACTIVE, MENUBARBREAK
    strings  {id: text} of every STRINGTABLE
    dialogs  {id: {"caption", "controls": [{"kind", "id", "text"}]}} in
             template order; a text that names a macro (the about box's
             version line) is {"macro": NAME}

Only the subset of the resource language that the script uses is read;
anything else in a block that is read is an error, so a change to the
script cannot be silently lost.
"""

import os
import re
import sys

# Identifiers that come from <windows.h> rather than resource.h.
BUILTIN_IDS = {"IDOK": 1, "IDCANCEL": 2, "IDC_STATIC": -1}


class RcError(ValueError):
    pass


def read_ids(resource_h):
    ids = dict(BUILTIN_IDS)
    with open(resource_h, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"\s*#define\s+(\w+)\s+(\w+)", line)
            if not m:
                continue
            name, value = m.groups()
            if re.fullmatch(r"0[xX][0-9a-fA-F]+|-?\d+", value):
                ids[name] = int(value, 0)
            elif value in ids:
                ids[name] = ids[value]
    return ids


def _string(token):
    """The text of a quoted resource string: "" is a quote, \\n \\t \\\\ escapes."""
    body = token[1:-1]
    out = []
    i = 0
    while i < len(body):
        c = body[i]
        if c == '"' and body[i + 1:i + 2] == '"':
            out.append('"')
            i += 2
            continue
        if c == "\\" and i + 1 < len(body):
            nxt = body[i + 1]
            out.append({"n": "\n", "t": "\t", "\\": "\\", '"': '"'}.get(nxt, "\\" + nxt))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


TOKEN = re.compile(r'"(?:[^"]|"")*"|[^\s,]+')


def _tokens(line):
    return TOKEN.findall(line)


def _lines(rc_path):
    """Non-empty lines without comments; a // inside a quoted string stays."""
    code = re.compile(r'(?:[^"/]|"(?:[^"]|"")*"|/(?!/))*')
    with open(rc_path, encoding="utf-8") as f:
        for raw in f:
            line = code.match(raw.strip()).group(0).strip()
            if line and not line.startswith("#"):
                yield line


def _id(ids, token):
    if re.fullmatch(r"-?\d+|0[xX][0-9a-fA-F]+", token):
        return int(token, 0)
    if token not in ids:
        raise RcError("unknown identifier " + token)
    return ids[token]


def parse(rc_path, resource_h):
    ids = read_ids(resource_h)
    lines = list(_lines(rc_path))
    result = {"menu": None, "strings": {}, "dialogs": {}}
    i = 0

    def block(start):
        """Lines between the BEGIN at start and its END; returns (lines, next)."""
        if lines[start] != "BEGIN":
            raise RcError("BEGIN expected, got " + lines[start])
        depth, j = 0, start
        out = []
        while j < len(lines):
            if lines[j] == "BEGIN":
                depth += 1
            elif lines[j] == "END":
                depth -= 1
                if depth == 0:
                    return out, j + 1
            if j != start:
                out.append(lines[j])
            j += 1
        raise RcError("END missing")

    def menu_items(body):
        items, k = [], 0
        while k < len(body):
            tok = _tokens(body[k])
            if tok[0] == "MENUITEM" and tok[1] == "SEPARATOR":
                items.append({"kind": "separator", "text": "", "id": 0, "flags": set(), "children": []})
                k += 1
            elif tok[0] == "MENUITEM":
                items.append({"kind": "item", "text": _string(tok[1]), "id": _id(ids, tok[2]),
                              "flags": set(tok[3:]), "children": []})
                k += 1
            elif tok[0] == "POPUP":
                depth, j = 0, k + 1
                sub = []
                while True:
                    if body[j] == "BEGIN":
                        depth += 1
                    elif body[j] == "END":
                        depth -= 1
                    if depth == 0:
                        break
                    if j != k + 1:
                        sub.append(body[j])
                    j += 1
                items.append({"kind": "popup", "text": _string(tok[1]), "id": 0,
                              "flags": set(tok[2:]), "children": menu_items(sub)})
                k = j + 1
            else:
                raise RcError("unexpected menu line: " + body[k])
        return items

    while i < len(lines):
        tok = _tokens(lines[i])
        if len(tok) >= 2 and tok[1] == "MENU":
            body, i = block(i + 1)
            popups = menu_items(body)
            if tok[0] == "IDR_MAINFRAME":
                result["menu"] = popups[0]["children"]
            continue
        if tok[0] == "STRINGTABLE":
            body, i = block(i + 1)
            for line in body:
                t = _tokens(line)
                if len(t) != 2 or not t[1].startswith('"'):
                    raise RcError("unexpected string line: " + line)
                result["strings"][_id(ids, t[0])] = _string(t[1])
            continue
        if len(tok) >= 2 and tok[1] in ("DIALOG", "DIALOGEX"):
            dlg = {"caption": "", "controls": []}
            j = i + 1
            while lines[j] != "BEGIN":
                t = _tokens(lines[j])
                if t[0] == "CAPTION":
                    dlg["caption"] = _string(t[1])
                j += 1
            body, i = block(j)
            for line in body:
                t = _tokens(line)
                kind = t[0]
                if kind in ("EDITTEXT",):
                    dlg["controls"].append({"kind": kind, "id": _id(ids, t[1]), "text": ""})
                elif kind == "CONTROL":
                    dlg["controls"].append({"kind": kind, "id": _id(ids, t[2]), "text": "",
                                            "resource": _id(ids, t[1])})
                elif kind in ("LTEXT", "RTEXT", "CTEXT", "PUSHBUTTON", "DEFPUSHBUTTON"):
                    text = _string(t[1]) if t[1].startswith('"') else {"macro": t[1]}
                    dlg["controls"].append({"kind": kind, "id": _id(ids, t[2]), "text": text})
                else:
                    raise RcError("unexpected dialog line: " + line)
            result["dialogs"][_id(ids, tok[0])] = dlg
            continue
        i += 1
    if result["menu"] is None:
        raise RcError("menu IDR_MAINFRAME not found")
    return result


# ----------------------------------------------------------------- C++ output


def _cxx(text):
    if isinstance(text, dict):
        return text["macro"]
    out = ['"']
    for ch in text:
        if ch in '"\\':
            out.append("\\" + ch)
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\t":
            out.append("\\t")
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


def header(data):
    out = [
        "// Made by tools/rc_texts.py from res/orlimo.rc and res/resource.h.",
        "#pragma once",
        "",
        '#include "orlimo_version.h"',
        "",
        "namespace orlimo::rc {",
        "",
        "enum class MenuKind { Item, Separator, Popup };",
        "enum MenuFlag : unsigned { kChecked = 1, kInactive = 2, kMenuBarBreak = 4 };",
        "",
        "// The tray menu in menu order; a popup's items follow it one level deeper.",
        "struct MenuEntry {",
        "    int depth;",
        "    MenuKind kind;",
        "    const char* text;",
        "    int id;",
        "    unsigned flags;",
        "};",
        "",
        "inline constexpr MenuEntry kTrayMenu[] = {",
    ]
    flag_bits = {"CHECKED": "kChecked", "INACTIVE": "kInactive", "MENUBARBREAK": "kMenuBarBreak"}

    def emit(items, depth):
        for it in items:
            unknown = it["flags"] - set(flag_bits)
            if unknown:
                raise RcError("unsupported menu flags %s" % sorted(unknown))
            flags = " | ".join(flag_bits[f] for f in sorted(it["flags"])) or "0"
            kind = {"item": "Item", "separator": "Separator", "popup": "Popup"}[it["kind"]]
            out.append("    {%d, MenuKind::%s, %s, %d, %s}," % (depth, kind, _cxx(it["text"]), it["id"], flags))
            emit(it["children"], depth + 1)

    emit(data["menu"], 0)
    out += ["};", "", "struct StringEntry {", "    int id;", "    const char* text;", "};", "",
            "inline constexpr StringEntry kStrings[] = {"]
    for sid in sorted(data["strings"]):
        out.append("    {%d, %s}," % (sid, _cxx(data["strings"][sid])))
    out += ["};", "",
            "// The text of a string-table entry; the empty text for an unknown id.",
            "inline const char* String(int id) {",
            "    for (const StringEntry& s : kStrings) {",
            "        if (s.id == id) return s.text;",
            "    }",
            '    return "";',
            "}", "",
            "struct DialogControl {",
            "    int id;  // -1 for a static text without id",
            "    const char* text;",
            "};", "",
            "struct DialogTexts {",
            "    int id;",
            "    const char* caption;",
            "    const DialogControl* controls;  // in template order",
            "    int count;",
            "};", ""]
    for did in sorted(data["dialogs"]):
        dlg = data["dialogs"][did]
        out.append("inline constexpr DialogControl kDialog%dControls[] = {" % did)
        for c in dlg["controls"]:
            out.append("    {%d, %s}," % (c["id"], _cxx(c["text"])))
        out.append("};")
    out.append("")
    out.append("inline constexpr DialogTexts kDialogs[] = {")
    for did in sorted(data["dialogs"]):
        dlg = data["dialogs"][did]
        out.append("    {%d, %s, kDialog%dControls, %d}," % (did, _cxx(dlg["caption"]), did, len(dlg["controls"])))
    out += ["};", "",
            "inline const DialogTexts* Dialog(int id) {",
            "    for (const DialogTexts& d : kDialogs) {",
            "        if (d.id == id) return &d;",
            "    }",
            "    return nullptr;",
            "}", "",
            "}  // namespace orlimo::rc", ""]
    return "\n".join(out)


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    if len(argv) < 2:
        print(__doc__.strip().splitlines()[3].strip(), file=sys.stderr)
        return 2
    rc = argv[2] if len(argv) > 2 else os.path.join(here, "..", "res", "orlimo.rc")
    res_h = argv[3] if len(argv) > 3 else os.path.join(os.path.dirname(rc), "resource.h")
    text = header(parse(rc, res_h))
    tmp = argv[1] + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
