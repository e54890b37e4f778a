#!/usr/bin/env python3
"""An independent re-computation of the region mean test for a scenario run
with --normalize-off and no covariables (group mode), used to check the
expected region tables by hand. Plain Python: no library beyond the standard
one, so it runs wherever python3 does.

Usage: region_mean_check.py <scenario folder> <r1 or r2 table to check>

For each region of the table: each probe's usable logit values (detection
p-value <= 0.05, beta strictly inside (0, 1)) are centred on the probe's
mean; each sample's value is the mean of its centred values over the
region's probes; the one-way analysis of variance of those values over the
sample groups gives F and its upper-tail p-value (regularised incomplete
beta by continued fraction). Prints the table's p-value beside the one
computed here and their relative difference.
"""
import math
import os
import sys


def read_samples(folder):
    samples = []
    with open(os.path.join(folder, "description.xls")) as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            file, name, group = line.split()[:3]
            samples.append((file, name, group))
    return samples


def read_logits(folder, samples):
    values = {}
    for column, (file, _, _) in enumerate(samples):
        with open(os.path.join(folder, file)) as f:
            for line in f:
                fields = line.split()
                if len(fields) < 3:
                    continue
                probe, beta, detection = fields[0], float(fields[1]), float(fields[2])
                usable = detection <= 0.05 and 0.0 < beta < 1.0
                values.setdefault(probe, [None] * len(samples))[column] = (
                    math.log(beta / (1.0 - beta)) if usable else None)
    return values


def betacf(a, b, x):
    # Continued fraction of the incomplete beta function (modified Lentz).
    tiny, c, d = 1e-300, 1.0, 1.0 - (a + b) * x / (a + 1.0)
    d = 1.0 / (d if abs(d) > tiny else tiny)
    h = d
    for m in range(1, 1000):
        for numerator in (m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m)),
                          -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1))):
            d = 1.0 + numerator * d
            d = 1.0 / (d if abs(d) > tiny else tiny)
            c = 1.0 + numerator / c
            c = c if abs(c) > tiny else tiny
            h *= d * c
        if abs(d * c - 1.0) < 1e-15:
            break
    return h


def incomplete_beta(a, b, x):
    if x <= 0.0:
        return 0.0
    if x >= 1.0:
        return 1.0
    front = math.exp(math.lgamma(a + b) - math.lgamma(a) - math.lgamma(b) +
                     a * math.log(x) + b * math.log(1.0 - x))
    if x < (a + 1.0) / (a + b + 2.0):
        return front * betacf(a, b, x) / a
    return 1.0 - front * betacf(b, a, 1.0 - x) / b


def f_upper(f, d1, d2):
    return incomplete_beta(d2 / 2.0, d1 / 2.0, d2 / (d2 + d1 * f))


def mean_test(rows, groups):
    centred = []
    for row in rows:
        present = [v for v in row if v is not None]
        if not present:
            continue
        mean = sum(present) / len(present)
        centred.append([None if v is None else v - mean for v in row])
    values, labels = [], []
    for s, group in enumerate(groups):
        present = [row[s] for row in centred if row[s] is not None]
        if present:
            values.append(sum(present) / len(present))
            labels.append(group)
    levels = sorted(set(groups))
    n, k = len(values), len(levels)
    if n <= k:
        return None
    grand = sum(values) / n
    within = between = 0.0
    for level in levels:
        members = [v for v, g in zip(values, labels) if g == level]
        if not members:
            continue
        mean = sum(members) / len(members)
        within += sum((v - mean) ** 2 for v in members)
        between += len(members) * (mean - grand) ** 2
    return f_upper((between / (k - 1)) / (within / (n - k)), k - 1, n - k)


def main():
    folder, table = sys.argv[1], sys.argv[2]
    samples = read_samples(folder)
    logits = read_logits(folder, samples)
    groups = [group for _, _, group in samples]
    worst = 0.0
    with open(table) as f:
        next(f)
        for line in f:
            fields = line.rstrip("\n").split("\t")
            probes = [p for p in fields[6].split(",") if p]
            expected = float(fields[4])
            computed = mean_test([logits[p] for p in probes], groups)
            difference = abs(computed - expected) / computed
            worst = max(worst, difference)
            print("%s:%s-%s %-16s table %-12s computed %.6g  relative difference %.1e" %
                  (fields[0], fields[1], fields[2], ",".join(probes), fields[4], computed, difference))
    print("largest relative difference %.1e" % worst)
    return 0 if worst < 1e-5 else 1


if __name__ == "__main__":
    sys.exit(main())
