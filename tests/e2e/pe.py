"""A minimal reader of PE32 files: machine, subsystem, imported DLLs, resources and the
symbol table, exported names, enough to check the properties the agent's exe must have."""

import struct


class PeFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        assert d[:2] == b"MZ", "not an MZ executable"
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        assert d[pe:pe + 4] == b"PE\0\0", "no PE signature"
        (self.machine, sections, _, self.symbol_table, self.symbol_count, opt_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", d, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", d, opt)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", d, opt + 68)
        dirs = opt + 96  # PE32 data directories
        self.directories = [struct.unpack_from("<II", d, dirs + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(sections):
            s = opt + opt_size + 40 * i
            name = d[s:s + 8].rstrip(b"\0").decode()
            vsize, va, rsize, raw = struct.unpack_from("<IIII", d, s + 8)
            self.sections.append((name, va, max(vsize, rsize), raw))

    def offset(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError(f"rva {rva:#x} in no section")

    def cstring(self, rva):
        o = self.offset(rva)
        return self.data[o:self.data.index(b"\0", o)].decode()

    def imported_dlls(self):
        rva, _ = self.directories[1]
        dlls, o = [], self.offset(rva)
        while True:
            name_rva = struct.unpack_from("<I", self.data, o + 12)[0]
            if name_rva == 0:
                return dlls
            dlls.append(self.cstring(name_rva))
            o += 20

    def exported_names(self):
        rva, _ = self.directories[0]
        o = self.offset(rva)
        count, names = struct.unpack_from("<I", self.data, o + 24)[0], self.offset(
            struct.unpack_from("<I", self.data, o + 32)[0])
        return {self.cstring(struct.unpack_from("<I", self.data, names + 4 * i)[0])
                for i in range(count)}

    def resource_types(self):
        """{type id: {name id: bytes of the first language's data}}."""
        rva, _ = self.directories[2]
        base = self.offset(rva)

        def entries(o):
            named, ids = struct.unpack_from("<HH", self.data, o + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, o + 16 + 8 * i)
                yield ident, target

        result = {}
        for type_id, type_dir in entries(base):
            names = {}
            for name_id, name_dir in entries(base + (type_dir & 0x7FFFFFFF)):
                _, leaf = next(entries(base + (name_dir & 0x7FFFFFFF)))
                data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                start = self.offset(data_rva)
                names[name_id] = self.data[start:start + size]
            result[type_id] = names
        return result
