#!/usr/bin/env python3
"""The DLL's export table against the header: zusmsdb.dll exports exactly the
C functions that include/ZuSmsDB.h declares, under their plain names, plus the
C++ classes, and it needs no DLL that Windows does not ship.

usage: export_table_test.py OBJDUMP DLL HEADER [OTHER_DLL...]
(the other DLLs are checked for what they need only)
"""
import re
import subprocess
import sys

# The system's own DLLs (compared in lower case).
WINDOWS_DLLS = {"kernel32.dll", "msvcrt.dll", "advapi32.dll", "bcrypt.dll", "user32.dll",
                "ntdll.dll", "ws2_32.dll", "shell32.dll", "ole32.dll"}
# Mangled names of the exported classes (GCC's Itanium mangling).
CLASS_NAMES = ("CMimer", "SmsDatabase", "stAppVer")


def main():
    objdump, dll, header = sys.argv[1:4]
    dump = subprocess.run([objdump, "-p", dll], check=True, capture_output=True,
                          text=True).stdout
    declared = set(re.findall(r"ZUSMS_API\s+int32_t\s+ZUSMS_CALL\s+(\w+)\s*\(",
                              open(header, encoding="utf-8").read()))

    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) != 2:
        print("no export table in", dll)
        return 1
    exported = set()
    for line in table[1].splitlines()[1:]:
        match = re.match(r"\s*\[\s*\d+\]\s+(\S+)", line)
        if not match:
            break
        exported.add(match.group(1))

    plain = {name for name in exported if not name.startswith("_Z")}
    mangled = exported - plain
    faults = []
    for name in sorted(declared - plain):
        faults.append(f"declared but not exported: {name}")
    for name in sorted(plain - declared):
        faults.append(f"exported but not declared: {name}")
    for name in sorted(mangled):
        if not any(c in name for c in CLASS_NAMES):
            faults.append(f"exported C++ name outside the public classes: {name}")
    if not any("SmsDatabase" in name for name in mangled):
        faults.append("the class SmsDatabase is not exported")
    for path in [dll] + sys.argv[4:]:
        needs = subprocess.run([objdump, "-p", path], check=True, capture_output=True,
                               text=True).stdout
        for dep in re.findall(r"DLL Name: (\S+)", needs):
            if dep.lower() not in WINDOWS_DLLS and not dep.lower().startswith("api-ms-win-"):
                faults.append(f"{path} needs a DLL that Windows does not ship: {dep}")

    for fault in faults:
        print(fault)
    print(f"{len(declared)} functions declared, {len(plain)} exported under plain names, "
          f"{len(mangled)} C++ members exported")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
