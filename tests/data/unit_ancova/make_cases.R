# Generates cases.txt: random designs for the extra-sum-of-squares F test and
# their p-values, computed independently with R's QR least squares.
#   Rscript make_cases.R > cases.txt
# One case per line, whitespace separated:
#   name n p_reduced p_full pvalue y[1..n] reduced[n x p_reduced] full[n x p_full]
# (matrices row by row). Degrees of freedom come from the column counts:
# d1 = p_full - p_reduced, d2 = n - p_full, whatever the designs' rank.
set.seed(20240611)

rss <- function(x, y) sum(qr.resid(qr(x, tol = 1e-10), y)^2)

emit <- function(name, y, reduced, full) {
  n <- length(y)
  d1 <- ncol(full) - ncol(reduced)
  d2 <- n - ncol(full)
  rr <- rss(reduced, y)
  rf <- rss(full, y)
  p <- pf(((rr - rf) / d1) / (rf / d2), d1, d2, lower.tail = FALSE)
  # Full-rank cases: the same p-value as R's own nested-model anova.
  if (qr(full)$rank == ncol(full) && qr(reduced)$rank == ncol(reduced)) {
    a <- anova(lm(y ~ reduced - 1), lm(y ~ full - 1))
    stopifnot(abs(a[["Pr(>F)"]][2] - p) <= 1e-12 * max(p, 1e-300))
  }
  f <- function(v) paste(sprintf("%.17g", v), collapse = " ")
  cat(name, n, ncol(reduced), ncol(full), sprintf("%.17g", p),
      f(y), f(t(reduced)), f(t(full)), "\n")
}

# Covariables, group indicators and a response with some group effect.
group_case <- function(name, groups, covs, n, empty_group = FALSE, duplicate = FALSE,
                       collinear = FALSE) {
  g <- sample(rep_len(seq_len(groups), n))
  if (empty_group) g[g == groups] <- 1
  cv <- matrix(rnorm(n * covs, mean = 40, sd = 12), n, covs)
  if (duplicate) cv <- cbind(cv, 2.5 * cv[, 1])
  if (collinear) cv <- cbind(cv, cv[, 1] - 0.5 * cv[, 2])
  effect <- rnorm(groups, sd = runif(1, 0, 1.5))
  y <- rnorm(n, mean = 1.5) + effect[g] + if (ncol(cv) > 0) 0.02 * cv[, 1] else 0
  indicators <- sapply(seq_len(groups), function(k) as.numeric(g == k))
  emit(name, y, cbind(cv, 1), cbind(cv, indicators))
}

continuous_case <- function(name, covs, n) {
  cv <- matrix(rnorm(n * covs, mean = 10, sd = 3), n, covs)
  x <- runif(n, 20, 70)
  y <- rnorm(n, mean = -1) + rnorm(1, sd = 0.03) * x
  emit(name, y, cbind(cv, 1), cbind(cv, 1, x))
}

for (i in 1:24) {
  groups <- 2 + (i %% 3)
  covs <- i %% 4
  group_case(sprintf("groups%d_covariables%d_%d", groups, covs, i), groups, covs,
             groups + covs + 1 + sample(1:25, 1))
}
for (i in 1:8) continuous_case(sprintf("continuous_covariables%d_%d", i %% 4, i), i %% 4, 4 + i %% 4 + sample(1:30, 1))
for (i in 1:4) group_case(sprintf("one_residual_df_%d", i), 2 + i %% 2, i %% 3, 2 + i %% 2 + i %% 3 + 1)
for (i in 1:6) group_case(sprintf("empty_group_column_%d", i), 2 + i %% 3, i %% 3, 20 + i, empty_group = TRUE)
for (i in 1:6) group_case(sprintf("duplicated_covariable_%d", i), 2 + i %% 3, 1 + i %% 2, 15 + i, duplicate = TRUE)
for (i in 1:6) group_case(sprintf("collinear_covariables_%d", i), 2 + i %% 2, 2, 15 + i, collinear = TRUE)
