# An independent re-computation of a Cimbrel run in R, used to check the
# expected files of the end-to-end scenarios by hand. Not needed to build or
# test the project (CI has no R).
#
# Usage: Rscript independent_check.R <run folder> <out folder> [options]
#   options as for cimbrel: -c FILE --covariable K --continuous --nosnp
#   --normalize-off --r1-off --r2-off -p P -q Q --probe FILE --r1 FILE
# Writes probe.txt, r1.txt, r2.txt and the tracks (default prefixes) into the
# out folder; compare them with the program's output (diff).
args <- commandArgs(trailingOnly = TRUE)
run_dir <- args[1]; out_dir <- args[2]; opt <- args[-(1:2)]
get_opt <- function(name, default) { i <- match(name, opt); if (is.na(i)) default else opt[i + 1] }
has_opt <- function(name) name %in% opt
cfg_file <- get_opt("-c", "../etc/description.xls")
K <- as.integer(get_opt("--covariable", "0"))
continuous <- has_opt("--continuous"); nosnp <- has_opt("--nosnp")
pthr <- as.numeric(get_opt("-p", "0.01")); qthr <- as.numeric(get_opt("-q", "0.01"))
ann_file <- get_opt("--probe", "../data/probe.ann"); r1_file <- get_opt("--r1", "../data/cpgIslandExt.txt")
setwd(run_dir)

tokens <- function(line) { t <- strsplit(line, "[ \t\r\n\v\f]+")[[1]]; t[t != ""] }
read_lines <- function(f) readLines(f, warn = FALSE)

cfg <- Filter(function(l) !startsWith(l, "#") && length(tokens(l)) > 0, read_lines(cfg_file))
cfg <- lapply(cfg, tokens)
N <- length(cfg)
files <- sapply(cfg, `[`, 1); samples <- sapply(cfg, `[`, 2)
third <- sapply(cfg, `[`, 3)
groups <- if (continuous) rep("all", N) else third
group_names <- unique(groups); G <- length(group_names)
gnum <- match(groups, group_names)
cov <- if (K > 0) t(sapply(cfg, function(t) as.numeric(t[4:(3 + K)]))) else NULL
if (!is.null(cov) && K == 1) cov <- matrix(cov, ncol = 1)
xcont <- if (continuous) as.numeric(third) else NULL

ref <- lapply(read_lines(files[N]), tokens)
ids <- sapply(ref, function(t) if (length(t)) t[1] else "")
P <- length(ids)
logit <- matrix(0, P, N); valid <- matrix(FALSE, P, N)
for (c in 1:N) {
  lines <- lapply(read_lines(files[c]), tokens)
  for (r in 1:P) {
    t <- lines[[r]]
    b <- suppressWarnings(as.numeric(t[2])); d <- suppressWarnings(as.numeric(t[3]))
    ok <- length(t) >= 3 && !is.na(b) && !is.na(d) && d <= 0.05 && b > 0 && b < 1
    if (ok) { logit[r, c] <- log(b / (1 - b)); valid[r, c] <- TRUE }
  }
}
if (nosnp) valid[startsWith(ids, "rs"), ] <- FALSE

if (!has_opt("--normalize-off")) {
  levels <- (0:14) * 0.07 + 0.01
  has <- colSums(valid) > 0
  q <- sapply(1:N, function(c) if (has[c]) quantile(logit[valid[, c], c], levels, type = 7, names = FALSE) else rep(NA, 15))
  R <- rowMeans(q[, has, drop = FALSE])
  for (c in which(has)) for (r in which(valid[, c])) {
    x <- logit[r, c]
    for (k in 1:14) if (q[k, c] - 1e-10 < x && x < q[k + 1, c] + 1e-10) {
      logit[r, c] <- if (q[k + 1, c] == q[k, c]) R[k] else (x - q[k, c]) * (R[k + 1] - R[k]) / (q[k + 1, c] - q[k, c]) + R[k]
      break
    }
  }
}

rss <- function(X, y) { f <- lm.fit(X, y); sum(f$residuals^2) }
ftest <- function(y, Xr, Xf) {
  n <- length(y); pr <- ncol(Xr); pf_ <- ncol(Xf)
  if (n <= pf_ || pf_ == pr) return(2)
  a <- rss(Xr, y); b <- rss(Xf, y); yy <- sum(y^2)
  if (a <= 1e-20 * yy) a <- 0
  if (b <= 1e-20 * yy) b <- 0
  if (b == 0) return(if (a > 0) 0 else 2)
  F <- ((a - b) / (pf_ - pr)) / (b / (n - pf_))
  if (F < 0) F <- 0
  pf(F, pf_ - pr, n - pf_, lower.tail = FALSE)
}
probe_block <- function(r, s) {
  covs <- if (K > 0) cov[s, , drop = FALSE] else matrix(0, length(s), 0)
  Xr <- cbind(covs, 1)
  Xf <- if (continuous) cbind(covs, 1, xcont[s]) else cbind(covs, outer(gnum[s], 1:G, `==`) * 1)
  list(y = logit[r, s], Xr = Xr, Xf = Xf)
}
pval <- sapply(1:P, function(r) { s <- which(valid[r, ]); b <- probe_block(r, s); ftest(b$y, b$Xr, b$Xf) })
gm <- t(sapply(1:P, function(r) sapply(1:G, function(g) {
  s <- valid[r, ] & gnum == g; m <- if (any(s)) mean(logit[r, s]) else 0; exp(m) / (1 + exp(m)) })))
if (G == 1) gm <- matrix(gm, ncol = 1)
rng <- apply(gm, 1, function(v) max(0, max(v)) - min(1, min(v)))
fdr_of <- function(p, names) {
  out <- rep(NA, length(p)); tested <- which(p < 1.000001); m <- length(tested)
  o <- tested[order(p[tested], names[tested], method = "radix")]
  run <- 0
  for (i in seq_along(o)) { qv <- m * p[o[i]] / i; if (qv < run) qv <- run; run <- qv; out[o[i]] <- min(1, qv) }
  out
}
fdr <- fdr_of(pval, ids); fdr[is.na(fdr)] <- 1

ann <- Filter(function(t) length(t) >= 4 && !is.na(suppressWarnings(as.numeric(t[3]))) && as.numeric(t[3]) > 0,
              lapply(Filter(function(l) !startsWith(l, "#"), read_lines(ann_file)), tokens))
pts <- data.frame(id = sapply(ann, `[`, 1), chr = sapply(ann, `[`, 2), loc = as.numeric(sapply(ann, `[`, 3)),
                  ann = sapply(ann, `[`, 4), stringsAsFactors = FALSE)
pts <- pts[order(pts$chr, pts$loc, method = "radix"), ]
first_rec <- pts[!duplicated(pts$id), ]
rec <- function(id) first_rec[match(id, first_rec$id), ]
g <- function(x) sprintf("%g", x)

dir.create(out_dir, showWarnings = FALSE)
tab <- paste0("ID\tPvalue\tFDR\tRange\t", paste0(group_names, "\t", collapse = ""), "CHR\tLOC\tANN")
tracks <- vector("list", G)
for (r in 1:P) {
  id <- ids[r]; a <- rec(id)
  if (is.na(a$id)) next
  if (nosnp && startsWith(id, "r")) next
  if (!(pval[r] < pthr + 1e-10 && fdr[r] < qthr + 1e-10)) next
  cells <- sapply(1:G, function(k) if (gm[r, k] > 0) g(gm[r, k]) else "-")
  tab <- c(tab, paste(c(id, g(pval[r]), g(fdr[r]), g(rng[r]), cells, a$chr, sprintf("%d", a$loc), a$ann), collapse = "\t"))
  for (k in 1:G) if (gm[r, k] > 0) tracks[[k]] <- c(tracks[[k]], sprintf("%s\t%d\t%d\t%f", a$chr, a$loc, a$loc + 1, gm[r, k]))
}
writeLines(tab, file.path(out_dir, "probe.txt"))
for (k in 1:G) writeLines(if (is.null(tracks[[k]])) character(0) else tracks[[k]], file.path(out_dir, paste0("probe_", group_names[k], ".BedGraph")))

# The mean test: each probe's usable values centred on the probe's mean, one
# value per sample (the mean of its centred values), tested like a probe.
mean_region_test <- function(probes) {
  if (length(probes) < 2) return(2)
  rows <- match(probes, ids)
  centred <- t(sapply(rows, function(r) { v <- ifelse(valid[r, ], logit[r, ], NA); v - mean(v, na.rm = TRUE) }))
  z <- colMeans(centred, na.rm = TRUE)
  s <- which(!is.na(z))
  if (length(s) == 0) return(2)
  b <- probe_block(rows[1], s)
  ftest(z[s], b$Xr, b$Xf)
}

# The pooled model (CIMBREL_REGION_TEST=pooled): every probe-sample value in
# one model, each probe with its own block of columns.
pooled_region_test <- function(probes) {
  if (length(probes) < 2) return(2)
  rows <- match(probes, ids)
  ys <- c(); Xr <- NULL; Xf <- NULL
  blocks <- lapply(rows, function(r) probe_block(r, which(valid[r, ])))
  nobs <- sum(sapply(blocks, function(b) length(b$y)))
  if (nobs == 0) return(2)
  Xr <- matrix(0, nobs, 0); Xf <- matrix(0, nobs, 0); at <- 0
  for (b in blocks) {
    n <- length(b$y); idx <- if (n > 0) (at + 1):(at + n) else integer(0)
    zr <- matrix(0, nobs, ncol(b$Xr)); zf <- matrix(0, nobs, ncol(b$Xf))
    if (n > 0) { zr[idx, ] <- b$Xr; zf[idx, ] <- b$Xf }
    Xr <- cbind(Xr, zr); Xf <- cbind(Xf, zf); ys <- c(ys, b$y); at <- at + n
  }
  ftest(ys, Xr, Xf)
}
region_test <- if (Sys.getenv("CIMBREL_REGION_TEST") == "pooled") pooled_region_test else mean_region_test
write_regions <- function(regions, members, prefix) {
  p <- as.numeric(vapply(members, region_test, numeric(1)))
  f <- fdr_of(p, as.character(seq_along(p) - 1)); f[is.na(f)] <- 2
  tab <- "CHR\tSTART\tEND\tNAME\tPVALUE\tFDR\tPROBE\tANNOTATION"
  keys <- list(); vals <- replicate(G, list())
  seen <- replicate(G, character(0), simplify = FALSE)
  tr <- replicate(G, data.frame(chr = character(0), loc = numeric(0), v = numeric(0)), simplify = FALSE)
  for (i in seq_along(members)) {
    if (!(p[i] < pthr + 1e-10 && f[i] < qthr + 1e-10)) next
    pr <- members[[i]]; n <- length(pr)
    tab <- c(tab, paste(regions$chr[i], sprintf("%d", regions$start[i]), sprintf("%d", regions$end[i]), regions$name[i],
                        g(p[i]), g(f[i]), paste0(paste0(pr, ","), collapse = ""), rec(pr[floor(n / 2) + 1])$ann, sep = "\t"))
    for (id in pr) { a <- rec(id); r <- match(id, ids); key <- paste(a$chr, a$loc)
      for (k in 1:G) if (gm[r, k] < 1.000001 && !(key %in% seen[[k]])) {
        seen[[k]] <- c(seen[[k]], key); tr[[k]] <- rbind(tr[[k]], data.frame(chr = a$chr, loc = a$loc, v = gm[r, k])) } }
  }
  writeLines(tab, file.path(out_dir, paste0(prefix, ".txt")))
  for (k in 1:G) { d <- tr[[k]]; d <- d[order(d$chr, d$loc, method = "radix"), ]
    writeLines(if (nrow(d)) sprintf("%s\t%d\t%d\t%f", d$chr, d$loc, d$loc + 1, d$v) else character(0),
               file.path(out_dir, paste0(prefix, "_", group_names[k], ".BedGraph"))) }
}
study <- first_rec[first_rec$id %in% ids, ]
study <- study[order(study$chr, study$loc, method = "radix"), ]
if (!has_opt("--r1-off")) {
  bl <- Filter(function(t) length(t) >= 4 && !is.na(suppressWarnings(as.numeric(t[2]))) && !is.na(suppressWarnings(as.numeric(t[3]))),
               lapply(Filter(function(l) !startsWith(l, "#"), read_lines(r1_file)), tokens))
  reg <- data.frame(chr = as.character(sapply(bl, `[`, 1)), start = as.numeric(sapply(bl, `[`, 2)),
                    end = as.numeric(sapply(bl, `[`, 3)), name = as.character(sapply(bl, `[`, 4)),
                    stringsAsFactors = FALSE)
  reg <- reg[order(reg$chr, reg$start, reg$end, method = "radix"), ]
  owner <- sapply(seq_len(nrow(study)), function(j) { w <- which(reg$chr == study$chr[j] & reg$start <= study$loc[j] & study$loc[j] < reg$end); if (length(w)) w[1] else NA })
  members <- lapply(seq_len(nrow(reg)), function(i) study$id[which(owner == i)])
  write_regions(reg, members, "r1")
}
if (!has_opt("--r2-off")) {
  regs <- list(); members <- list(); i <- 1; n <- nrow(study)
  while (i < n) {
    j <- i
    while (j < n && study$chr[j + 1] == study$chr[j] && study$loc[j + 1] - study$loc[j] <= 100) j <- j + 1
    if (j > i) { regs[[length(regs) + 1]] <- data.frame(chr = study$chr[i], start = study$loc[i], end = study$loc[j] + 1, name = "")
                 members[[length(members) + 1]] <- study$id[i:j] }
    i <- j + 1
  }
  reg <- if (length(regs)) do.call(rbind, regs) else data.frame(chr = character(0), start = numeric(0), end = numeric(0), name = character(0))
  write_regions(reg, members, "r2")
}
