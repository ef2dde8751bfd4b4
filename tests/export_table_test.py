#!/usr/bin/env python3
"""The DLL's export table against the shipped headers: zusmsdb.dll exports
exactly the C functions that include/ZuSmsDB.h declares, under their plain
names; every C++ name it exports is a member (or the vtable, type info) of a
class that a shipped header declares exported; the .def file beside it lists
the C functions alone; and it needs no DLL that Windows does not ship.

usage: export_table_test.py OBJDUMP DLL HEADER [SHIPPED_HEADER.h...] [OTHER_DLL...]
(the other DLLs are checked for what they need only)
"""
import re
import subprocess
import sys

# The system's own DLLs (compared in lower case).
WINDOWS_DLLS = {"kernel32.dll", "msvcrt.dll", "advapi32.dll", "bcrypt.dll", "user32.dll",
                "ntdll.dll", "ws2_32.dll", "shell32.dll", "ole32.dll"}


def class_of(demangled):
    """The outermost class a demangled C++ name belongs to ("" for none)."""
    for prefix in ("vtable for ", "typeinfo name for ", "typeinfo for ", "VTT for "):
        if demangled.startswith(prefix):
            return demangled[len(prefix):].split("::")[0]
    name = demangled.replace("operator()", "operator_call").split("(", 1)[0]
    return name.split("::")[0] if "::" in name else ""


def main():
    objdump, dll, header = sys.argv[1:4]
    dump = subprocess.run([objdump, "-p", dll], check=True, capture_output=True,
                          text=True).stdout
    declared = set(re.findall(r"ZUSMS_API\s+int32_t\s+ZUSMS_CALL\s+(\w+)\s*\(",
                              open(header, encoding="utf-8").read()))
    shipped = [header] + [a for a in sys.argv[4:] if a.endswith(".h")]
    others = [a for a in sys.argv[4:] if not a.endswith(".h")]
    public_classes = set()
    for path in shipped:
        public_classes |= set(re.findall(r"\bclass\s+ZUSMS_API\s+(\w+)",
                                         open(path, encoding="utf-8").read()))

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
    cxxfilt = re.sub(r"objdump$", "c++filt", objdump)
    names = sorted(mangled)
    demangled = subprocess.run([cxxfilt, "-n"], input="\n".join(names), check=True,
                               capture_output=True, text=True).stdout.splitlines()
    exported_classes = set()
    for name, readable in zip(names, demangled):
        owner = class_of(readable)
        exported_classes.add(owner)
        if owner not in public_classes:
            faults.append(f"exported C++ name outside the shipped classes: {readable} ({name})")
    if "SmsDatabase" not in exported_classes:
        faults.append("the class SmsDatabase is not exported")

    def_file = re.sub(r"\.dll$", ".def", dll)
    def_names = set()
    for line in open(def_file, encoding="utf-8").read().splitlines()[1:]:
        if line.strip():
            def_names.add(line.split()[0])
    if def_names != declared:
        faults.append(f"{def_file} lists other than the C functions: "
                      f"{sorted(def_names ^ declared)[:5]}")

    for path in [dll] + others:
        needs = subprocess.run([objdump, "-p", path], check=True, capture_output=True,
                               text=True).stdout
        for dep in re.findall(r"DLL Name: (\S+)", needs):
            if dep.lower() not in WINDOWS_DLLS and not dep.lower().startswith("api-ms-win-"):
                faults.append(f"{path} needs a DLL that Windows does not ship: {dep}")

    for fault in faults:
        print(fault)
    print(f"{len(declared)} functions declared, {len(plain)} exported under plain names, "
          f"{len(mangled)} C++ names exported, of {sorted(exported_classes)}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
