#!/usr/bin/env python3
"""Restores the library id in a type library written by widl 7.0.

That widl writes the library's GUID into the type library's GUID table with
its last byte replaced (0x0d); the interfaces and classes come out right.
This finds the entry by its first 15 bytes, writes the GUID from the IDL back
and fails when the file holds neither form.

usage: fix-typelib-libid.py FILE.tlb LIBID
"""
import sys
import uuid


def main():
    path, libid = sys.argv[1], uuid.UUID(sys.argv[2]).bytes_le
    data = bytearray(open(path, 'rb').read())
    if data.find(libid) < 0:
        at = data.find(libid[:15])
        if at < 0:
            sys.exit(f'{path}: library id {sys.argv[2]} not found')
        data[at:at + 16] = libid
        open(path, 'wb').write(data)


if __name__ == '__main__':
    main()
