#!/usr/bin/env python3
"""The application manifests embedded in the built programs, read back from the files.

  program_manifests_test.py --revision N NAME=FILE ...   checks each program's manifest
  program_manifests_test.py --dump FILE ...              lists every resource (type,
                                                          name, language, size, SHA-256)

Each program must hold exactly one manifest (RT_MANIFEST, id 1) naming the program, its
revision and its own machine (x86 or amd64, as its PE header says), asking to run as the invoker, declaring Windows 7 to 11, dpi awareness,
long paths and common controls 6; its only other resources are what it is built with.
Exit status 0 when every program passes.
"""

import argparse
import hashlib
import struct
import sys
import xml.etree.ElementTree as ET

RT_MANIFEST = 24
RT_VERSION = 16
RESOURCE_TYPES = {1: "cursor", 2: "bitmap", 3: "icon", 4: "menu", 5: "dialog", 6: "string",
                  10: "rcdata", 12: "group cursor", 14: "group icon", 16: "version",
                  24: "manifest"}

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
WS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}
# What each program carries besides its manifest and version block.
OTHER_RESOURCES = {"Tindra": {"icon", "group icon", "rcdata"}, "Vantorel": set(),
                   "Pellmora": set()}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


MACHINES = {0x14C: "x86", 0x8664: "amd64"}


def resources(path):
    """{(type, name, language): bytes} of a PE file; a type or name is a number or a
    string. The key "machine" holds the machine its header names."""
    with open(path, "rb") as f:
        data = f.read()
    u16 = lambda at: struct.unpack_from("<H", data, at)[0]
    u32 = lambda at: struct.unpack_from("<I", data, at)[0]
    pe = u32(0x3C)
    check(data[pe:pe + 4] == b"PE\0\0", "%s is not a PE file" % path)
    sections, optional_size = u16(pe + 6), u16(pe + 20)
    optional = pe + 24
    directories = optional + (96 if u16(optional) == 0x10B else 112)
    root_rva, root_size = u32(directories + 16), u32(directories + 20)
    check(root_size, "%s has no resources" % path)
    table = [struct.unpack_from("<IIII", data, optional + optional_size + 40 * i + 8)
             for i in range(sections)]  # virtual size, address, raw size, raw offset

    def offset(rva):
        for vsize, vaddr, rsize, raw in table:
            if vaddr <= rva < vaddr + max(vsize, rsize):
                return raw + rva - vaddr
        raise Failure("%s: address 0x%x is in no section" % (path, rva))

    root = offset(root_rva)

    def entries(directory):
        count = u16(directory + 12) + u16(directory + 14)
        for i in range(count):
            name, target = u32(directory + 16 + 8 * i), u32(directory + 20 + 8 * i)
            if name & 0x80000000:
                at = root + (name & 0x7FFFFFFF)
                name = data[at + 2:at + 2 + 2 * u16(at)].decode("utf-16-le")
            yield name, target

    found = {"machine": MACHINES.get(u16(pe + 4), "0x%x" % u16(pe + 4))}
    for rtype, types in entries(root):
        check(types & 0x80000000, "%s: a resource type without a directory" % path)
        for name, names in entries(root + (types & 0x7FFFFFFF)):
            for lang, leaf in entries(root + (names & 0x7FFFFFFF)):
                check(not leaf & 0x80000000, "%s: a language with a directory" % path)
                rva, size = u32(root + leaf), u32(root + leaf + 4)
                found[(rtype, name, lang)] = data[offset(rva):offset(rva) + size]
    return found


def check_manifest(name, path, revision):
    found = resources(path)
    machine = found.pop("machine")
    manifests = [key for key in found if key[0] == RT_MANIFEST]
    check([key[1] for key in manifests] == [1], "%s: manifests %r, not one with id 1"
          % (path, manifests))
    kinds = {RESOURCE_TYPES.get(key[0], key[0]) for key in found} - {"manifest", "version"}
    check(kinds == OTHER_RESOURCES[name], "%s: resources %r besides the manifest and version"
          % (path, sorted(kinds, key=str)))
    text = found[manifests[0]]
    check(text.startswith(b"<?xml"), "%s: the manifest has a byte order mark or no XML "
          "declaration" % path)
    root = ET.fromstring(text)
    identity = root.find(ASM_V1 + "assemblyIdentity")
    check(identity is not None and identity.get("name") == name and
          identity.get("version") == "1.0.0.%d" % revision and
          identity.get("processorArchitecture") == machine,
          "%s: identity %r" % (path, identity is not None and identity.attrib))
    level = root.find("%strustInfo/%ssecurity/%srequestedPrivileges/%srequestedExecutionLevel"
                      % ((ASM_V3,) * 4))
    check(level is not None and level.get("level") == "asInvoker" and
          level.get("uiAccess") == "false", "%s: execution level %r"
          % (path, level is not None and level.attrib))
    systems = {e.get("Id") for e in root.iter(COMPAT + "supportedOS")}
    check(systems == SUPPORTED_OS, "%s: supportedOS %r" % (path, sorted(systems)))
    controls = [e for e in root.iter(ASM_V1 + "assemblyIdentity")
                if e.get("name") == "Microsoft.Windows.Common-Controls"]
    check(len(controls) == 1 and controls[0].get("version") == "6.0.0.0" and
          controls[0].get("publicKeyToken") == "6595b64144ccf1df" and
          controls[0].get("processorArchitecture") == machine,
          "%s: common controls %r" % (path, [c.attrib for c in controls]))
    settings = root.find("%sapplication/%swindowsSettings" % (ASM_V3, ASM_V3))
    check(settings is not None, "%s: no windowsSettings" % path)
    for tag, ns in (("dpiAware", WS_2005), ("longPathAware", WS_2016)):
        value = settings.find(ns + tag)
        check(value is not None and value.text.strip() == "true", "%s: %s is %r"
              % (path, tag, value is not None and value.text))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--revision", type=int)
    parser.add_argument("--dump", action="store_true")
    parser.add_argument("programs", nargs="+", metavar="NAME=FILE")
    args = parser.parse_args()
    if args.dump:
        for path in args.programs:
            found = resources(path)
            found.pop("machine")
            for (rtype, name, lang), data in sorted(found.items(), key=str):
                print("%s %s %s 0x%04x %d %s" % (path, RESOURCE_TYPES.get(rtype, rtype), name,
                                                 lang, len(data),
                                                 hashlib.sha256(data).hexdigest()))
        return 0
    failed = 0
    for program in args.programs:
        name, _, path = program.partition("=")
        try:
            check_manifest(name, path, args.revision)
            print("PASS %s: %s" % (name, path))
        except (Failure, ET.ParseError, struct.error) as e:
            print("FAIL %s: %s" % (name, e))
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
