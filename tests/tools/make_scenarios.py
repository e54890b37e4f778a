#!/usr/bin/env python3
"""Writes the inputs of the end-to-end scenarios under tests/data/.

Every scenario folder gets its input files and a "cmd" file (one argument per
line). Expected outputs are produced with CIMBREL_REDO=1 and checked against
tests/tools/independent_check.R and by hand before they are committed.
Deterministic: a fixed seed per scenario.
"""
import math
import os
import random

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")


def write(path, text, crlf=False):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if crlf:
        text = text.replace("\n", "\r\n")
    with open(path, "w", newline="") as f:
        f.write(text)


def beta(mu, rng, sd=0.35):
    """A beta value around mu on the logit scale."""
    x = math.log(mu / (1 - mu)) + rng.gauss(0, sd)
    return 1 / (1 + math.exp(-x))


def study(name, probes, samples, groups, rng, shift=None, covariables=0, failed=(),
          crlf=False, continuous=None, extra_config="", data_overrides=None):
    """probes: list of (id, base mean); samples: names; groups: group per sample.
    shift: {probe id: {group: logit shift}}; failed: set of (probe, sample) with
    detection p > 0.05; continuous: value per sample (shifts scale with it)."""
    d = os.path.join(ROOT, name)
    shift = shift or {}
    data_overrides = data_overrides or {}
    config = ["# file\tsample\tgroup\tcovariables"]
    for s, sample in enumerate(samples):
        covs = [f"{rng.uniform(20, 80):.0f}" if j == 0 else f"{rng.choice([0, 1])}" for j in range(covariables)]
        third = groups[s] if continuous is None else f"{continuous[s]:g}"
        config.append("\t".join([f"{sample}.txt", sample, third] + covs))
        lines = []
        for pid, mu in probes:
            x = math.log(mu / (1 - mu)) + rng.gauss(0, 0.3)
            sh = shift.get(pid, {})
            if continuous is None:
                x += sh.get(groups[s], 0.0)
            else:
                x += sh.get("slope", 0.0) * continuous[s]
            b = 1 / (1 + math.exp(-x))
            p = rng.uniform(0.06, 0.5) if (pid, sample) in failed else rng.uniform(0, 0.01)
            line = data_overrides.get((pid, sample), f"{pid}\t{b:.6f}\t{p:.4f}")
            lines.append(line)
        write(os.path.join(d, f"{sample}.txt"), "\n".join(lines) + "\n", crlf)
    write(os.path.join(d, "description.xls"), "\n".join(config) + "\n" + extra_config, crlf)
    return d


def annotation(d, rows, name="probe.ann", crlf=False):
    text = "#ID\tCHR\tLOC\tANN\n" + "".join(f"{i}\t{c}\t{l}\t{a}\n" for i, c, l, a in rows)
    write(os.path.join(d, name), text, crlf)


def regions(d, rows, name="cgi.txt"):
    text = "#chrom\tstart\tend\tname\n" + "".join(f"{c}\t{s}\t{e}\t{n}\n" for c, s, e, n in rows)
    write(os.path.join(d, name), text)


def cmd(d, args):
    write(os.path.join(d, "cmd"), "\n".join(args) + "\n")


def s01():
    rng = random.Random(101)
    probes = [(f"cg{i:02d}", mu) for i, mu in enumerate([0.2, 0.8, 0.5, 0.1, 0.9, 0.3, 0.6, 0.15], 1)]
    samples = ["S1", "S2", "S3", "S4", "S5", "S6"]
    groups = ["case", "control"] * 3
    d = study("01_two_groups_minimal", probes, samples, groups, rng,
              shift={"cg01": {"case": 2.0}, "cg03": {"control": -1.5}, "cg06": {"case": 0.4}})
    annotation(d, [("cg01", "chr1", 1000, "TSS200"), ("cg02", "chr1", 1050, "Body"),
                   ("cg03", "chr2", 500, "TSS1500"), ("cg04", "chr10", 77, "Body"),
                   ("cg05", "chr10", 300, "3'UTR"), ("cg06", "chrX", 12, "1stExon"),
                   ("cg07", "chr2", 9, "IGR"), ("cg08", "chr1", 5000, "Body")])
    cmd(d, ["-c", "description.xls", "--probe", "probe.ann", "--normalize-off", "--r1-off", "--r2-off",
            "-p", "1.01", "-q", "1.01"])


def island_layout(prefix, rng, chrs, clusters, per_cluster, gap):
    """Probes clustered like CpG islands; returns annotation rows and island rows."""
    ann, isl, k = [], [], 0
    for c in chrs:
        pos = rng.randint(1000, 5000)
        for cl in range(clusters):
            start = pos
            for _ in range(per_cluster):
                k += 1
                ann.append((f"{prefix}{k:04d}", c, pos, rng.choice(["TSS200", "Body", "IGR", "TSS1500"])))
                pos += rng.randint(*gap)
            isl.append((c, start - 20, pos - gap[0] + 20, f"CpG:_{cl}{c}"))
            pos += rng.randint(400, 3000)
    return ann, isl


def s02():
    rng = random.Random(202)
    ann, isl = island_layout("cg", rng, ["chr1", "chr2", "chr10"], 4, 5, (20, 90))
    probes = [(a[0], rng.choice([0.12, 0.85, 0.5])) for a in ann]
    samples = [f"P{i}" for i in range(1, 10)]
    groups = ["B", "A", "C"] * 3
    shift = {a[0]: {"A": 1.8, "C": -0.9} for a in ann[:10]}
    failed = {(ann[12][0], "P1"), (ann[12][0], "P4"), (ann[12][0], "P7"), (ann[30][0], "P2")}
    d = study("02_three_groups_covariables", probes, samples, groups, rng, shift=shift, covariables=2,
              failed=failed)
    annotation(d, ann)
    regions(d, isl)
    cmd(d, ["-c", "description.xls", "--probe", "probe.ann", "--r1", "cgi.txt", "--covariable", "2",
            "-p", "0.05", "-q", "0.2"])


def s03():
    rng = random.Random(303)
    ann, isl = island_layout("cg", rng, ["chr3", "chr21"], 3, 4, (30, 120))
    probes = [(a[0], rng.choice([0.2, 0.7])) for a in ann]
    samples = [f"Q{i}" for i in range(1, 9)]
    age = [23, 35, 41, 48, 52, 60, 66, 71]
    shift = {a[0]: {"slope": 0.05} for a in ann[:8]}
    d = study("03_continuous_covariable", probes, samples, ["x"] * 8, rng, shift=shift, covariables=1,
              continuous=age)
    annotation(d, ann)
    regions(d, isl)
    cmd(d, ["-c", "description.xls", "--probe", "probe.ann", "--r1", "cgi.txt", "--continuous",
            "--covariable", "1", "-p", "0.05", "-q", "0.5"])


def s04():
    rng = random.Random(404)
    probes = [("cg1", 0.3), ("rs1001", 0.5), ("cg2", 0.7), ("RS77", 0.4), ("crs5", 0.6), ("r", 0.2),
              ("cg3", 0.25), ("rs2002", 0.5)]
    samples = ["T1", "T2", "T3", "T4"]
    groups = ["g1", "g1", "g2", "g2"]
    d = study("04_nosnp_crlf_prefixes", probes, samples, groups, rng,
              shift={"cg1": {"g2": 2.5}, "RS77": {"g2": 2.0}, "crs5": {"g1": -2.0}}, crlf=True)
    os.makedirs(os.path.join(d, "out"), exist_ok=True)
    write(os.path.join(d, "out", ".keep"), "")
    annotation(d, [("cg1", "chr1", 100, "A"), ("rs1001", "chr1", 150, "B"), ("cg2", "chr1", 230, "C"),
                   ("RS77", "chr5", 10, "D"), ("crs5", "chr5", 60, "E"), ("r", "chr5", 400, "F"),
                   ("cg3", "chr6", 1, "G"), ("rs2002", "chr6", 50, "H")], crlf=True)
    regions(d, [("chr1", 90, 300, "isl1"), ("chr5", 0, 100, "isl2"), ("chr6", 1, 60, "isl3")])
    cmd(d, ["-c", "description.xls", "--probe", "probe.ann", "--r1", "cgi.txt", "--nosnp",
            "--probe-prefix", "out/p extra", "--r1-prefix", "out/island", "--r2-prefix", "out/run",
            "-p", "1.01", "-q", "1.01"])


def s05():
    """Region layout: overlapping and nested islands, chr10 before chr2, a
    zero-length island, islands with one or no study probe, an annotated
    probe outside the study, probes sharing a position, gaps of 100 and 101."""
    rng = random.Random(505)
    study_rows = [("a1", "chr1", 100), ("a2", "chr1", 160), ("a3", "chr1", 250), ("a4", "chr1", 350),
                  ("a5", "chr1", 451), ("b1", "chr10", 1000), ("b2", "chr10", 1000), ("b3", "chr10", 1080),
                  ("c1", "chr2", 500), ("c2", "chr2", 560), ("c3", "chr2", 700), ("d1", "chr2", 5000)]
    probes = [(i, rng.choice([0.2, 0.8])) for i, _, _ in study_rows]
    samples = ["U1", "U2", "U3", "U4", "U5", "U6"]
    groups = ["lo", "hi"] * 3
    shift = {i: {"hi": 1.5} for i, _, _ in study_rows}
    d = study("05_region_layout", probes, samples, groups, rng, shift=shift)
    ann = [(i, c, l, f"ann_{i}") for i, c, l in study_rows]
    ann += [("z9", "chr2", 630, "outside_study"), ("a2", "chr1", 9999, "duplicate_line")]
    annotation(d, ann)
    regions(d, [("chr1", 100, 200, "over_a"), ("chr1", 150, 300, "over_b"), ("chr1", 300, 500, "outer"),
                ("chr1", 320, 400, "nested"), ("chr10", 1000, 1000, "empty"), ("chr10", 999, 1081, "pair"),
                ("chr2", 490, 710, "with_outside"), ("chr2", 4990, 5010, "single"), ("chr9", 1, 10, "none")])
    cmd(d, ["-c", "description.xls", "--probe", "probe.ann", "--r1", "cgi.txt", "-p", "1.01", "-q", "1.01",
            "--normalize-off"])


def failing(name, config, files, args):
    d = os.path.join(ROOT, name)
    write(os.path.join(d, "description.xls"), config)
    for f, text in files.items():
        write(os.path.join(d, f), text)
    cmd(d, ["-c", "description.xls", "--probe", "probe.ann", "--r1", "cgi.txt"] + args)


def failures():
    good = "p1\t0.2\t0.01\np2\t0.7\t0.0\np3\t0.5\t0.02\n"
    ann = "p1\tchr1\t10\tA\np2\tchr1\t20\tB\np3\tchr1\t30\tC\n"
    cgi = "chr1\t0\t100\tisl\n"
    failing("10_bad_config_line",
            "a.txt\tA\tg1\t5\nb.txt\tB\n   \t \nc.txt\tC\tg2\tx\na.txt\tA\tg2\t1\n",
            {"a.txt": good, "b.txt": good, "c.txt": good, "probe.ann": ann, "cgi.txt": cgi},
            ["--covariable", "1"])
    failing("11_missing_data_file", "a.txt\tA\tg1\nnope.txt\tB\tg2\nc.txt\tC\tg2\n",
            {"a.txt": good, "c.txt": good, "probe.ann": ann, "cgi.txt": cgi}, [])
    failing("12_misaligned_data_file", "a.txt\tA\tg1\nb.txt\tB\tg2\nc.txt\tC\tg2\n",
            {"a.txt": good, "b.txt": "p1\t0.2\t0.01\np3\t0.7\t0.0\np2\t0.5\t0.02\n", "c.txt": good,
             "probe.ann": ann, "cgi.txt": cgi}, [])
    failing("13_unreadable_region_file", "a.txt\tA\tg1\nb.txt\tB\tg2\nc.txt\tC\tg2\n",
            {"a.txt": good, "b.txt": good, "c.txt": good, "probe.ann": ann}, [])
    failing("14_unwritable_probe_table", "a.txt\tA\tg1\nb.txt\tB\tg2\nc.txt\tC\tg2\nd.txt\tD\tg1\n",
            {"a.txt": good, "b.txt": good, "c.txt": good, "d.txt": good, "probe.ann": ann, "cgi.txt": cgi},
            ["--probe-prefix", "missing_dir/p", "--normalize-off"])
    failing("15_no_regions_and_bad_lines",
            "a.txt\tA\tg1\nb.txt\tB\tg2\nc.txt\tC\tg2\nd.txt\tD\tg1\n",
            {"a.txt": "p1\t0.2\t0.01\np2\t1\t0.0\np3\t0.5\t0.2\n",
             "b.txt": "p1\t0.3\t0.01\np2\t0.7\np3\t0.5\t0.02\n",
             "c.txt": "p1\t1.2\t0.01\np2\t0.6\t0.0\np3\t0.5\t0.02\n",
             "d.txt": "p1\t0.25\t0.01\np2\t0.65\t0.0\np3\t0.0\t0.02\n",
             "probe.ann": "ID CHR LOC ANN\np1\tchr1\t10\tA\np2\tchr1\t200\tB\np3\tchr1\t0\tC\np3\tchr2\t5\n",
             "cgi.txt": "# nothing but comments\n"}, ["--normalize-off", "-p", "1.01", "-q", "1.01"])


def negative_control():
    rng = random.Random(909)
    probes = [("n1", 0.3), ("n2", 0.6), ("n3", 0.5)]
    d = study("negative_control", probes, ["A", "B", "C", "D"], ["x", "y", "x", "y"], rng,
              shift={"n1": {"y": 3.0}})
    annotation(d, [("n1", "chr1", 5, "a"), ("n2", "chr1", 500, "b"), ("n3", "chr1", 900, "c")])
    cmd(d, ["-c", "description.xls", "--probe", "probe.ann", "--r1-off", "--r2-off", "-p", "1.01", "-q", "1.01"])
    write(os.path.join(d, "expected_wrong", "probe.txt"),
          "ID\tPvalue\tFDR\tRange\tx\ty\tCHR\tLOC\tANN\nn1\t0.5\t1\t0.1\t0.3\t0.4\tchr1\t5\ta\n")


if __name__ == "__main__":
    s01(); s02(); s03(); s04(); s05(); failures(); negative_control()
