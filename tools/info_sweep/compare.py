#!/usr/bin/python3
"""Differences between the information answers of two builds over the same files.

  compare.py CLASSES A B
      CLASSES: "NAME CLASS" lines (make_files.py); A and B: answers.cpp output of each build.
      Prints, for each kind of damage (the first two parts of the class), how many files it
      holds and how many answer differently, then each differing pair of answers with the
      number of files that give it and one of them.
"""
import collections
import os
import sys


def answers(path):
    out = collections.defaultdict(list)
    with open(path) as fp:
        for line in fp:
            f = line.split()
            out[os.path.basename(f[0])].append(" ".join(f[1:]))
    return out


def main():
    classes = {}
    with open(sys.argv[1]) as fp:
        for line in fp:
            name, cls = line.split()
            classes[name] = cls
    a, b = answers(sys.argv[2]), answers(sys.argv[3])
    files = collections.Counter()
    differing = collections.Counter()
    pairs = collections.defaultdict(list)
    for name, cls in classes.items():
        group = "/".join(cls.split("/")[:2])
        files[group] += 1
        if a[name] != b[name]:
            differing[group] += 1
            for x, y in zip(a[name], b[name]):
                if x != y:
                    pairs[(group, brief(x), brief(y))].append(name)
    print("files %d, differing %d" % (sum(files.values()), sum(differing.values())))
    for group in sorted(files):
        if differing[group]:
            print("%-34s %5d files, %5d differ" % (group, files[group], differing[group]))
    print("answers that differ (sub-type and page asked: result, answered size or none):")
    for (group, x, y), names in sorted(pairs.items()):
        print("  %-30s %-18s -> %-18s %5d e.g. %s (%s)" % (group, x, y, len(names), names[0],
                                                          classes[names[0]]))


def brief(answer):
    """"0 0 info 7 ... size 0x0 ..." -> "0/0: 7 -"; sizes only where the result is 0."""
    f = answer.split()
    result = f[3]
    size = f[f.index("size") + 1] if result == "0" else "-"
    return "%s/%s: %s %s" % (f[0], f[1], result, "sized" if size != "-" else "-")


if __name__ == "__main__":
    main()
