#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target under tests/fuzz/corpus/<target>/
from a few lines of the test data and the bundled example (never whole files)
and hand-written excerpts of the importer's formats. Run from anywhere; it
rewrites every corpus folder."""
import glob
import gzip
import os
import re
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
DATA = os.path.join(ROOT, "tests", "data")
DEMO = os.path.join(ROOT, "examples", "demo")


def head(path, lines):
    with open(path, "rb") as f:
        return b"".join(f.readlines()[:lines])


def gz(data):
    return gzip.compress(data, mtime=0)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def reset(target):
    for path in glob.glob(os.path.join(HERE, "corpus", target, "*")):
        os.remove(path)


def command_line():
    reset("command_line")
    for path in sorted(glob.glob(os.path.join(DATA, "*", "cmd"))):
        words = open(path, "rb").read().splitlines()
        write("command_line", os.path.basename(os.path.dirname(path)), b"\0".join(words))
    write("command_line", "help", b"-n\x004\x00--help")
    write("command_line", "threads", b"--thread\x00" b"1024\x00-p\x000.05\x00-q\x00" b"1e-2")
    write("command_line", "missing_value", b"--r1-prefix")


# Data files of the configuration target's folder (see configuration_fuzzer.cpp).
STUDY_FILES = [b"a.txt", b"b.txt", b"d.gz"]


def configuration():
    reset("configuration")
    for path in sorted(glob.glob(os.path.join(DATA, "*", "description.xls"))) + [
            os.path.join(DEMO, "etc", "description.xls")]:
        scenario = os.path.basename(os.path.dirname(path))
        text = head(path, 6)
        lines = []
        for i, line in enumerate(text.splitlines(keepends=True)):
            if line.startswith(b"#") or not line.strip():
                lines.append(line)
                continue
            lines.append(re.sub(rb"^\S+", STUDY_FILES[i % len(STUDY_FILES)], line))
        body = b"".join(lines)
        covariables = max(0, len(lines[-1].split()) - 3) if lines else 0
        continuous = 1 if scenario.startswith("03") else 0
        write("configuration", scenario, bytes([continuous | (min(covariables, 3) << 2)]) + body)
    write("configuration", "nosnp_misaligned", b"\x02a.txt S1 g1\nc.txt S2 g2\nb.txt S3 g1\n")
    write("configuration", "short_reference", b"\x00a.txt S1 g1\ne.txt S2 g2\n")


REFERENCE_IDS = [b"cg00000029", b"cg00000108", b"rs10000001", b"ch.1.1", b"cg00000165", b"cg00000236"]


def data_file():
    reset("data_file")
    values = [b"0.25 0.01", b"0.6\t0.2", b"0.9 0", b"1 0.0", b"0 0.001", b"0.5 1e-5"]
    aligned = b"".join(i + b" " + v + b"\n" for i, v in zip(REFERENCE_IDS, values))
    write("data_file", "aligned", aligned)
    write("data_file", "aligned_crlf", aligned.replace(b"\n", b"\r\n"))
    write("data_file", "aligned_gzip", gz(aligned))
    write("data_file", "short", b"".join(aligned.splitlines(keepends=True)[:4]))
    write("data_file", "bad_values", b"cg00000029 x 0.01\ncg00000108 1.5 0\nrs10000001\n"
          b"ch.1.1 0.5 -1\ncg00000165 0.5 nan\ncg00000236 1e-400 0\n")
    for path in sorted(glob.glob(os.path.join(DATA, "*", "*1.txt")))[:3]:
        lines = head(path, 6).splitlines(keepends=True)
        text = b"".join(re.sub(rb"^\S+", REFERENCE_IDS[i], line) for i, line in enumerate(lines))
        write("data_file", "from_" + os.path.basename(os.path.dirname(path)), text)


def annotation():
    reset("annotation")
    for path in sorted(glob.glob(os.path.join(DATA, "0*", "probe.ann")))[:4] + [
            os.path.join(DEMO, "data", "probe.ann")]:
        write("annotation", os.path.basename(os.path.dirname(path)), head(path, 12))
    write("annotation", "gzip", gz(head(os.path.join(DEMO, "data", "probe.ann"), 8)))
    write("annotation", "duplicates", b"cg1 chr1 5 A\ncg1 chr1 3 B\ncg2 chr1 3 C\ncg3 chr2 0 D\n"
          b"cg4 chr1 -1 E\r\n# comment\ncg5 chr1 4294967295 F")


def region():
    reset("region")
    for path in sorted(glob.glob(os.path.join(DATA, "0*", "cgi.txt")))[:3] + [
            os.path.join(DEMO, "data", "cpgIslandExt.txt")]:
        write("region", os.path.basename(os.path.dirname(path)), head(path, 8))
    # Regions around the target's fixed probes: nested, overlapping, empty,
    # inverted, at the last position, on a chromosome without probes.
    write("region", "around_probes", b"chr1 1 101 A\nchr1 100 101 nested\nchr1 99 151 B\nchr1 150 150 empty\n"
          b"chr1 200 100 inverted\nchr1 4294967290 4294967295 last\nchr2 0 4294967295 all\nchr3 1 9 none\n"
          b"chr10 1 2 C\r\nchrX 5 6 D\n")
    write("region", "gzip", gz(b"chr1 90 160 A\nchr2 5 20 B\n"))


def gzip_layer():
    reset("gzip")
    text = head(os.path.join(DEMO, "data", "probe.ann"), 6)
    member = gz(text)
    write("gzip", "plain", text)
    write("gzip", "one_member", member)
    write("gzip", "two_members", member + gz(b"last line without end"))
    write("gzip", "zero_padding", member + b"\0" * 16)
    write("gzip", "truncated", member[:-9])
    write("gzip", "trailing_garbage", member + b"garbage")
    write("gzip", "empty_member", gz(b""))
    write("gzip", "stored_block", gzip.compress(text, compresslevel=0, mtime=0))
    # Every optional header field (extra field, name, comment, header CRC),
    # on an empty member and after a first member.
    fields = b"\x1f\x8b\x08\x1e" + bytes(5) + b"\x03" + b"\x04\x00BC\x00\x00" + b"x.txt\0" + b"note\0"
    fields += (zlib.crc32(fields) & 0xFFFF).to_bytes(2, "little")
    empty_body = gz(b"")[10:]
    write("gzip", "header_fields", fields + empty_body)
    write("gzip", "header_fields_second", member + fields + gz(text)[10:])
    # An empty member whose dynamic block has an incomplete literal/length
    # code (two codes of length 2): ISA-L reads it, zlib refuses it.
    write("gzip", "incomplete_code_set",
          bytes.fromhex("1f8b0800000000000003eddd010900000cc3b0fa575d258911010000000000000000"))


# Importer targets: hand-written excerpts of the formats they read (the first
# byte of a matrix or manifest seed chooses an option, see the targets).
def matrix():
    reset("matrix")
    write("matrix", "minfi_csv", b"\0" b'"","S1","S2","S 3"\n"cg00000029",0.43,NA,0.5\n'
          b'"cg00000108",0.91,0.2,"0.1"\r\n"rs1000",NaN,,1e-3\n')
    write("matrix", "geo_detection_tsv", b"\1" b"!Series_title\t\"x\"\nID_REF\tGSM1\tDetection Pval\tGSM2\t"
          b"Detection Pval\ncg00000029\t0.43\t0.001\t0.52\t0.2\n\ncg00000108\t0.91\t0\t0.1\t0.01\n"
          b"!series_matrix_table_end\n")
    write("matrix", "comma_bom", b"\2" b"\xef\xbb\xbfID,A,B\ncg1,0.1,0.2\ncg2,\"0,3\",x\ncg3,1,0\n")
    write("matrix", "gzip", b"\0" + gz(b"ID\tA\tB\ncg1\t0.1\t0.2\ncg2\t0.3\t0.4\n"))


def manifest():
    reset("manifest")
    body = (b"IlmnID,Name,CHR,MAPINFO,Strand,Relation_to_UCSC_CpG_Island,UCSC_RefGene_Name,UCSC_RefGene_Group\n"
            b"cg00000029,cg00000029,16,53468112,F,N_Shore,RBL2,TSS1500\n"
            b"cg00000108,cg00000108,3,37459206,R,,\"C3orf35;C3orf35\",Body;Body\n"
            b"ch.1.1,ch.1.1,chrX,1,F,Island,,\n"
            b"cg00000165,cg00000165,,,R,,,\n"
            b"rs1000,rs1000,Y,4294967295,F,S_Shelf,A B,5'UTR\r\n")
    write("manifest", "450k_blocks", b"\0" b"Illumina, Inc.,,,\n[Heading],,,\nDescriptor File Name,x.bpm,,\n"
          b"[Assay],,,\n" + body + b"[Controls],,,\n0027616,STAINING,Red,DNP (High)\n")
    write("manifest", "table_only_group", b"\1" + body)
    write("manifest", "two_columns", b"\2" + body.replace(b"\n", b"\r\n"))
    write("manifest", "epic_v2", b"\0" b"IlmnID,Name,CHR,MAPINFO,Relation_to_UCSC_CpG_Island\n"
          b"cg00000029_TC21,cg00000029,chr16,53434200,OpenSea\n")
    write("manifest", "gzip", b"\0" + gz(body))


def idat_bytes(addresses, means, beads, barcode=b"200000000001", chip=b"BeadChip 8x5"):
    """A version-3 IDAT: header, field table, then the fields in the scanner's order."""
    le = lambda value, n: value.to_bytes(n, "little")
    fields = [(1000, le(len(addresses), 4)), (102, b"".join(le(a, 4) for a in addresses)),
              (103, le(7, 2) * len(addresses)), (104, b"".join(le(m, 2) for m in means)), (107, bytes(beads)),
              (402, bytes([len(barcode)]) + barcode), (403, bytes([len(chip)]) + chip)]
    out, offset = b"IDAT" + le(3, 8) + le(len(fields), 4), 16 + 10 * len(fields)
    for code, data in fields:
        out += le(code, 2) + le(offset, 8)
        offset += len(data)
    return out + b"".join(data for _, data in fields)


def idat():
    reset("idat")
    addresses = list(range(1, 12))
    means = [900, 300, 400, 2500, 3000, 410, 390, 5000, 5200, 6000, 6100]
    write("idat", "noob_negative", b"\x18" + idat_bytes(addresses, means, [5] * 11))
    write("idat", "raw_oob_shuffled", b"\x07" + idat_bytes(addresses[::-1], means, [2, 9] * 5 + [1]))
    write("idat", "flat_background", b"\x00" + idat_bytes(addresses, [400] * 11, [3] * 11))
    write("idat", "long_chip_type", b"\x02" + idat_bytes([1, 5], [0, 65535], [0, 255], chip=b"x" * 200))
    write("idat", "version_1", b"\x00IDAT" + (1).to_bytes(8, "little") + bytes(8))


def island():
    reset("island")
    write("island", "ucsc", b"585\tchr1\t28735\t29810\tCpG: 116\t1075\t116\t787\t21.6\t73.2\t0.83\n"
          b"586\tchr1\t135124\t135563\tCpG: 30\t439\t30\t295\t13.7\t67.2\t0.64\n")
    write("island", "bed", b"track name=islands\nbrowser position chr1\n# comment\nchr1 28735 29810 CGI_1\n"
          b"chr2\t10\t20\nchrX 5 5 empty extra\r\n")
    write("island", "demo", head(os.path.join(DEMO, "data", "cpgIslandExt.txt"), 6))
    write("island", "gzip", gz(b"chr1\t1\t4294967295\tall\n"))


def report_table():
    reset("report_table")
    basic = os.path.join(DATA, "report_basic")
    for name in sorted(os.listdir(basic)):
        write("report_table", name, head(os.path.join(basic, name), 6))
    write("report_table", "probe_gzip", gz(head(os.path.join(basic, sorted(os.listdir(basic))[0]), 4)))
    write("report_table", "crlf_empty_name", b"CHR\tSTART\tEND\tNAME\tPVALUE\tFDR\tPROBE\tANNOTATION\r\n"
          b"chr1\t100\t151\t\t3.02859e-10\t3.02859e-10\tp1,p2,\tIsland\r\n")
    write("report_table", "no_mean", b"ID\tPvalue\tFDR\tRange\tA\tB\tCHR\tLOC\tANN\n"
          b"cg1\t0.001\t0.02\t0\t0.5\t-\tchrX\t4294967295\tIsland\ncg2\t2\t1\t0.1\t0.2\t0.3\tchr10\t5\tOpenSea\n")


if __name__ == "__main__":
    command_line()
    configuration()
    data_file()
    annotation()
    region()
    gzip_layer()
    matrix()
    manifest()
    idat()
    island()
    report_table()
