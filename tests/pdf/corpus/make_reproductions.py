#!/usr/bin/env python3
"""Writes small PDFs that reproduce what other writers put in their files, and a manifest for
check_pdf_append.sh, into the folder given:

    python3 make_reproductions.py OUT-FOLDER     (needs qpdf on the PATH)

Each file is put together by hand (or protected by qpdf and then edited as another writer would
have written it), with a classic cross-reference table computed from the object positions.
"""
import base64
import hashlib
import os
import re
import subprocess
import sys
import tempfile

PAD = bytes.fromhex("28BF4E5E4E758A4164004E56FFFA01082E2E00B6D0683E802F0CA9FE6453697A")


def stream(data, extra=b""):
    return b"<< /Length %d%s >>\nstream\n%s\nendstream" % (len(data), extra, data)


def content(n):
    # A line and a filled box per page, different on every page so that a page mix-up shows.
    return b"4 w 20 20 m %d 180 l S 0.5 g %d 30 40 40 re f" % (60 + 20 * n, 40 + 30 * n)


def page(parent, contents, box=b" /MediaBox [0 0 200 200]"):
    return b"<< /Type /Page /Parent %d 0 R%s /Contents %d 0 R >>" % (parent, box, contents)


def build(objects, trailer, header=b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n"):
    """objects: {number: body}; trailer: the entries between << and >> (without /Size)."""
    out = bytearray(header)
    offsets = {}
    for n in sorted(objects):
        offsets[n] = len(out)
        out += b"%d 0 obj\n%s\nendobj\n" % (n, objects[n])
    size = max(objects) + 1
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % size
    for n in range(1, size):
        out += b"%010d 00000 n \n" % offsets[n] if n in offsets else b"0000000000 00000 f \n"
    out += b"trailer\n<< /Size %d %s >>\nstartxref\n%d\n%%%%EOF\n" % (size, trailer, xref)
    return bytes(out)


def simple(pages=1, catalog=b"", info=None, trailer_extra=b"", extra=None, boxes=None):
    """A document of `pages` pages: catalog 1, page tree 2, pages 10, 12, ... with contents
    11, 13, ...; Info as object 5 when given as bytes."""
    kids = [10 + 2 * i for i in range(pages)]
    objects = {
        1: b"<< /Type /Catalog /Pages 2 0 R%s >>" % catalog,
        2: b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(b"%d 0 R" % k for k in kids), pages),
    }
    for i, k in enumerate(kids):
        box = b" /MediaBox [0 0 200 200]" if boxes is None else boxes[i]
        objects[k] = page(2, k + 1, box)
        objects[k + 1] = stream(content(i))
    trailer = b"/Root 1 0 R"
    if info is not None:
        objects[5] = info
        trailer += b" /Info 5 0 R"
    objects.update(extra or {})
    return build(objects, trailer + trailer_extra)


def shift_xref(data, at, delta):
    """Moves the table entries and startxref that point past byte `at` by `delta`."""
    def entry(m):
        o = int(m.group(1))
        return b"%010d %s n" % (o + delta if o > at else o, m.group(2))
    data = re.sub(rb"(\d{10}) (\d{5}) n", entry, data)
    return re.sub(rb"startxref(\s+)(\d+)",
                  lambda m: b"startxref" + m.group(1) + b"%d" % (int(m.group(2)) + (delta if int(m.group(2)) > at else 0)),
                  data)


def replace_once(data, old, new):
    at = data.index(old)
    return shift_xref(data[:at] + new + data[at + len(old):], at, len(new) - len(old))


def qpdf_encrypt(data, args):
    with tempfile.TemporaryDirectory() as tmp:
        src, out = os.path.join(tmp, "in.pdf"), os.path.join(tmp, "out.pdf")
        with open(src, "wb") as f:
            f.write(data)
        subprocess.run(["qpdf", "--allow-weak-crypto", "--object-streams=disable", "--encrypt"] + args +
                       ["--", src, out], check=True)
        with open(out, "rb") as f:
            return f.read()


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) % 256
        s[i], s[j] = s[j], s[i]
    i = j = 0
    out = bytearray()
    for b in data:
        i = (i + 1) % 256
        j = (j + s[i]) % 256
        s[i], s[j] = s[j], s[i]
        out.append(b ^ s[(s[i] + s[j]) % 256])
    return bytes(out)


def rc4_128_without_id(user, owner, objects, info_number):
    """Revision 3, 128-bit RC4, keyed with an empty first ID as a writer without /ID does:
    O, U, the file key and each object's key by the standard handler's algorithms."""
    p = -4
    d = hashlib.md5((owner + PAD)[:32]).digest()
    for _ in range(50):
        d = hashlib.md5(d).digest()
    o = rc4(d, (user + PAD)[:32])
    for i in range(1, 20):
        o = rc4(bytes(b ^ i for b in d), o)
    k = hashlib.md5((user + PAD)[:32] + o + (p & 0xFFFFFFFF).to_bytes(4, "little") + b"").digest()
    for _ in range(50):
        k = hashlib.md5(k).digest()
    u = rc4(k, hashlib.md5(PAD + b"").digest())
    for i in range(1, 20):
        u = rc4(bytes(b ^ i for b in k), u)
    u += bytes(16)

    def object_key(n):
        return hashlib.md5(k + n.to_bytes(3, "little") + b"\0\0").digest()[:16]

    encrypted = {}
    for n, body in objects.items():
        m = re.match(rb"(?s)<< /Length (\d+)( .*?)? >>\nstream\n(.*)\nendstream$", body)
        if m:
            encrypted[n] = stream(rc4(object_key(n), m.group(3)), m.group(2) or b"")
        elif n == info_number:
            encrypted[n] = re.sub(rb"\(([^)]*)\)", lambda s: b"<" + rc4(object_key(n), s.group(1)).hex().encode() + b">", body)
        else:
            encrypted[n] = body
    encrypted[9] = (b"<< /Filter /Standard /V 2 /R 3 /Length 128 /P %d /O <%s> /U <%s> >>"
                    % (p, o.hex().encode(), u.hex().encode()))
    return encrypted


INFO_DIRECT = (b"<< /Title (Annual report 2025) /Author (Jane Roe) /Subject (Figures of the year)"
               b" /Keywords (finance, report) /Creator (Writer) /Producer (LibreOffice 7.4)"
               b" /CreationDate (D:20250102030405+01'00') >>")


def cases():
    out = {}
    # Document information from several producers: every entry the file has stays.
    out["info-direct"] = (simple(info=INFO_DIRECT), "-", "ok")
    out["info-in-trailer"] = (simple(trailer_extra=b" /Info << /Title (Direct in the trailer) /Author (A. Writer) >>"),
                              "-", "ok")
    out["info-indirect-values"] = (simple(info=b"<< /Title 6 0 R /Author 7 0 R /Producer (pdfTeX-1.40.23) >>",
                                          extra={6: b"(Title held in its own object)", 7: b"<4A6F686E20446F65>"}),
                                   "-", "ok")
    out["info-utf16"] = (simple(info=b"<< /Title <FEFF00C4007000660065006C0020D83DDE00> /Author <FEFF004A0061006E00E9> >>"),
                         "-", "ok")
    out["info-broken-entries"] = (simple(info=b"<< /Title 42 /Author 99 0 R /Subject null /Creator /Scanner"
                                              b" /Keywords [(a) (b)] >>"), "-", "ok")
    out["info-protected-aes256"] = (qpdf_encrypt(simple(info=INFO_DIRECT), ["user", "owner", "256"]), "user", "ok")
    out["info-protected-rc4"] = (qpdf_encrypt(simple(info=INFO_DIRECT), ["user", "owner", "128", "--use-aes=n"]),
                                 "user", "ok")

    # /P written unsigned, for every kind of protection.
    for name, args in (("rc4-40", ["40"]), ("rc4-128", ["128", "--use-aes=n"]),
                       ("rc4-crypt-filters", ["128", "--use-aes=n", "--force-V4"]),
                       ("aes128", ["128", "--use-aes=y"]), ("aes256-r5", ["256", "--force-R5"]),
                       ("aes256", ["256"])):
        enc = qpdf_encrypt(simple(pages=2, info=INFO_DIRECT), ["user", "owner"] + args)
        out["p-unsigned-" + name] = (replace_once(enc, b"/P -4", b"/P 4294967292"), "user", "ok")

    # RC4 without a trailer /ID (keyed with an empty one) and with an /ID that is no array.
    base = {1: b"<< /Type /Catalog /Pages 2 0 R >>", 2: b"<< /Type /Pages /Kids [10 0 R 12 0 R] /Count 2 >>",
            5: b"<< /Title (Protected without an ID) /Producer (old writer) >>",
            10: page(2, 11), 11: stream(content(0)), 12: page(2, 13), 13: stream(content(1))}
    enc = rc4_128_without_id(b"user", b"owner", base, 5)
    out["rc4-no-id"] = (build(enc, b"/Root 1 0 R /Info 5 0 R /Encrypt 9 0 R"), "user", "ok")
    out["rc4-id-not-array"] = (build(enc, b"/Root 1 0 R /Info 5 0 R /Encrypt 9 0 R /ID <0123456789ABCDEF>"),
                               "owner", "ok")

    # Stray tokens inside dictionaries: the keys after them still count.
    out["stray-token-catalog"] = (simple(catalog=b" /X 10 0 R 0 R /PageMode /UseNone /Lang (en)",
                                         info=INFO_DIRECT), "-", "ok")
    out["stray-token-trailer"] = (simple(info=INFO_DIRECT, trailer_extra=b" Junk 2 0 R /ID [<0A0B0C0D><0A0B0C0D>]"),
                                  "-", "ok")
    objects = {1: b"<< /Type /Catalog /Pages 2 0 R >>", 2: b"<< /Type /Pages /Kids [10 0 R] /Count 1 >>",
               10: b"<< /Type /Page /Parent 2 0 R ] /MediaBox [0 0 200 200] stray /Rotate 90 /Contents 11 0 R >>",
               11: stream(content(0))}
    out["stray-token-page"] = (build(objects, b"/Root 1 0 R"), "-", "repair")

    # Page trees: no page at all, pages without a media box of their own or inherited.
    out["pages-zero"] = (build({1: b"<< /Type /Catalog /Pages 2 0 R >>", 2: b"<< /Type /Pages /Kids [] /Count 0 >>"},
                               b"/Root 1 0 R"), "-", "ok")
    out["pages-no-media-box"] = (simple(pages=3, boxes=[b"", b"", b" /MediaBox [0 0 200 200]"]), "-", "ok")
    out["pages-no-media-box-at-all"] = (simple(pages=2, boxes=[b"", b""]), "-", "ok")

    # Base-85 page content as fuzzers and broken writers leave it: a group beyond 32 bits, a
    # character outside the alphabet, text after the end mark. Every old page reads as before.
    a85 = base64.a85encode(content(0), adobe=True)[2:]
    out["content-ascii85-damaged"] = (simple(pages=3, extra={
        11: stream(b"uuuuu" + a85, b" /Filter /ASCII85Decode"),
        13: stream(a85[:7] + b"{" + a85[7:], b" /Filter /ASCII85Decode"),
        15: stream(a85 + b"\n" + a85, b" /Filter /ASCII85Decode")}), "-", "ok")

    # A catalog written into the trailer itself: poppler shows no page of the file until the
    # catalog is an object of its own.
    out["catalog-in-trailer"] = (build({2: b"<< /Type /Pages /Kids [10 0 R] /Count 1 >>", 10: page(2, 11),
                                        11: stream(content(0))},
                                       b"/Root << /Type /Catalog /Pages 2 0 R /PageMode /UseNone >>"), "-", "ok")

    # A file that claims PDF/A-1b keeps the claim; its UTC dates written with a bare Z stay as
    # they are (the metadata repeats them so).
    profile = "/usr/share/color/icc/sRGB.icc"
    if os.path.exists(profile):
        with open(profile, "rb") as f:
            icc = f.read()
        xmp = (b'<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?><x:xmpmeta xmlns:x="adobe:ns:meta/">'
               b'<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">'
               b'<rdf:Description rdf:about="" xmlns:pdfaid="http://www.aiim.org/pdfa/ns/id/">'
               b'<pdfaid:part>1</pdfaid:part><pdfaid:conformance>B</pdfaid:conformance></rdf:Description>'
               b'<rdf:Description rdf:about="" xmlns:xmp="http://ns.adobe.com/xap/1.0/">'
               b'<xmp:CreateDate>2015-12-20T19:18:00Z</xmp:CreateDate>'
               b'<xmp:ModifyDate>2015-12-20T19:18:00Z</xmp:ModifyDate></rdf:Description>'
               b'</rdf:RDF></x:xmpmeta><?xpacket end="w"?>')
        catalog = (b" /Metadata 3 0 R /OutputIntents [<< /Type /OutputIntent /S /GTS_PDFA1"
                   b" /OutputConditionIdentifier (sRGB) /DestOutputProfile 4 0 R >>]")
        out["pdfa-utc-dates"] = (simple(catalog=catalog,
                                        info=b"<< /Title (Viewer) /CreationDate (D:20151220191800Z)"
                                             b" /ModDate (D:20151220191800Z) >>",
                                        trailer_extra=b" /ID [<0A0B0C0D><0A0B0C0D>]",
                                        extra={3: stream(xmp, b" /Type /Metadata /Subtype /XML"),
                                               4: stream(icc, b" /N 3")}), "-", "ok")
    return out


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    lines = ["# file\tpassword\texpect\tknown failure"]
    for name, (data, password, expect) in sorted(cases().items()):
        with open(os.path.join(folder, name + ".pdf"), "wb") as f:
            f.write(data)
        lines.append("%s.pdf\t%s\t%s\t-" % (name, password, expect))
    with open(os.path.join(folder, "manifest.tsv"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
