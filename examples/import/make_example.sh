#!/usr/bin/env bash
# Rebuilds the files of this example from the demo study in examples/demo,
# written in the layouts analysts receive them in:
#   matrix_processed.txt.gz   GEO-style processed matrix: ID_REF, then per sample its
#                             betas and a "Detection Pval" column (tab-separated);
#                             failed detections carry NA betas; one extra sample
#                             (S13) that the sheet leaves out
#   samplesheet.csv           Excel CSV: byte-order mark, CRLF, quoted fields, a
#                             categorical column (Sex) next to the numeric Age
#   HumanMethylation450_manifest.csv.gz
#                             the vendor's manifest: [Heading], [Assay] (450K columns,
#                             CHR written without "chr"), [Controls]
#   cpgIslandExt.txt.gz       UCSC's table: bin, chrom, chromStart, chromEnd,
#                             "CpG: N" names, length, cpgNum, gcNum, perCpg, perGc, obsExp
#   exclude.txt               probes to leave out (the demo's SNP probes)
# Run from anywhere; it writes next to itself.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
demo="$here/../demo"
samples=(S01 S02 S03 S04 S05 S06 S07 S08 S09 S10 S11 S12)

# The matrix: betas and detection p-values of every sample side by side.
matrix() {
  local files=() s
  for s in "${samples[@]}" S12; do files+=("$demo/data/samples/$s.txt"); done
  printf 'ID_REF'
  for s in "${samples[@]}" S13; do printf '\t%s\tDetection Pval' "$s"; done
  printf '\n'
  paste "${files[@]}" | awk -F'\t' '{
    line = $1
    for (i = 1; i <= NF; i += 3) line = line "\t" ($(i + 2) > 0.05 ? "NA" : $(i + 1)) "\t" $(i + 2)
    print line
  }'
}
matrix | gzip -n -9 > "$here/matrix_processed.txt.gz"

# The sheet, as Excel saves "CSV UTF-8": BOM, CRLF, quotes where a cell needs them.
{
  printf '\xEF\xBB\xBF'
  printf 'Sample_Name,Sample_Group,Age,Sex,Sentrix_ID,Sentrix_Position,Description\r\n'
  grep -v '^#' "$demo/etc/description.xls" | awk -F'\t' '{
    sex = (NR % 3 == 0 || NR == 8) ? "F" : "M"
    printf "%s,%s,%s,%s,2009%07d,R0%dC01,\"%s, batch %d\"\r\n", $2, $3, $4, sex, 1000 + int((NR - 1) / 6), (NR - 1) % 6 + 1, "Study cohort", (NR - 1) % 2 + 1
  }'
} > "$here/samplesheet.csv"

# The manifest: 450K columns, chromosomes as "1", island relation or empty (open sea).
{
  printf 'Illumina, Inc.,,,,,\r\n[Heading],,,,,\r\nDescriptor File Name,HumanMethylation450_15017482_v1-2.bpm,,,,\r\n'
  printf 'Assay Format,Infinium HD Methylation,,,,\r\nDate Manufactured,6/23/2010,,,,\r\nLoci Count ,2001,,,,\r\n[Assay],,,,,\r\n'
  printf 'IlmnID,Name,AddressA_ID,AlleleA_ProbeSeq,AddressB_ID,AlleleB_ProbeSeq,Infinium_Design_Type,Next_Base,Color_Channel,Forward_Sequence,Genome_Build,CHR,MAPINFO,SourceSeq,Chromosome_36,Coordinate_36,Strand,Probe_SNPs,Probe_SNPs_10,Random_Loci,Methyl27_Loci,UCSC_RefGene_Name,UCSC_RefGene_Accession,UCSC_RefGene_Group,UCSC_CpG_Islands_Name,Relation_to_UCSC_CpG_Island,Phantom,DMR,Enhancer,HMM_Island,Regulatory_Feature_Name,Regulatory_Feature_Group,DHS\r\n'
  grep -v '^#' "$demo/data/probe.ann" | awk -F'\t' '{
    chr = substr($2, 4)
    relation = ($4 == "Island") ? "Island" : ""
    island = ($4 == "Island") ? "chr" chr ":" ($3 - 150) "-" ($3 + 350) : ""
    printf "%s,%s,%d,,,,II,,,,37,%s,%d,,%s,%d,F,,,,,,,,%s,%s,,,,,,,\r\n", $1, $1, 10600000 + NR, chr, $3, chr, $3 - 1000, island, relation
  }'
  printf 'ch.1.1061217F,ch.1.1061217F,10700001,,,,II,,,,37,,,,,,F,,,,,,,,,,,,,,,,\r\n'
  printf '[Controls],,,,,\r\n0027630,STAINING,Red,DNP (20K),,\r\n0027631,STAINING,Purple,DNP (Bgnd),,\r\n'
} | gzip -n -9 > "$here/HumanMethylation450_manifest.csv.gz"

# UCSC's cpgIslandExt: the bin of the standard binning scheme, then the island.
# UCSC counts from 0, the demo's region file (like the probes) from 1.
grep -v '^#' "$demo/data/cpgIslandExt.txt" | awk -F'\t' '
  function bin(start, end,    s, e, level, offsets) {
    split("585 73 9 1 0", offsets, " ")
    s = int(start / 131072); e = int((end - 1) / 131072)
    for (level = 1; level <= 5; level++) {
      if (s == e) return offsets[level] + s
      s = int(s / 8); e = int(e / 8)
    }
    return 0
  }
  {
    start = $2 - 1; end = $3 - 1
    length_ = end - start; cpg = int(length_ / 12) + 7; gc = int(length_ * 0.62)
    printf "%d\t%s\t%d\t%d\tCpG: %d\t%d\t%d\t%d\t%.1f\t%.1f\t%.2f\n", bin(start, end), $1, start, end, cpg, length_, cpg, gc, 200 * cpg / length_, 100 * gc / length_, 0.85
  }' | gzip -n -9 > "$here/cpgIslandExt.txt.gz"

{
  echo "# Probes to leave out of the analysis: SNP probes (rs...) of the array."
  grep -v '^#' "$demo/data/probe.ann" | awk -F'\t' '$4 == "SNP" { print $1 }'
} > "$here/exclude.txt"
