// Studies mixed from the bundled blood reference for the tests of
// cimbrel-covariates: each sample's betas are its cell proportions applied
// to the cell types' profiles, plus noise. Besides the reference's probes
// the study has filler probes with profiles of their own, so that a shift
// in composition moves most of the probes, as it does in real blood.
#ifndef CIMBREL_TESTS_COVARIATES_MIXED_STUDY_H
#define CIMBREL_TESTS_COVARIATES_MIXED_STUDY_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cell_reference.h"
#include "test_util.h"

struct Mixed_study {
    size_t samples = 30;
    size_t filler_probes = 1500;
    double noise = 0.01;                 // sd of the beta noise
    double shift = 0.0;                  // granulocyte excess of group "case"
    double covariable_effect = 0.0;      // logit shift per unit of the covariable
    size_t hidden = 0;                   // hidden factors (logit sd 0.3, 0.15, ...)
    unsigned seed = 1;
    std::vector<double> proportions;     // filled: samples x 6
    std::vector<std::string> groups;     // filled
};

inline Cell_reference bundled_blood() {
    Cell_reference reference;
    std::string error;
    read_cell_reference(std::string(CIMBREL_SOURCE_DIR) + "/data/reference/blood_salas2018.txt", reference, error);
    return reference;
}

// Writes the data files, "config" (file, sample, group, one covariable) and
// "probe.ann" into dir.
inline void write_mixed_study(const std::string& dir, Mixed_study& study) {
    const Cell_reference reference = bundled_blood();
    const size_t t = reference.type_count();
    std::mt19937_64 random(study.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<std::string> probes = reference.probes;
    std::vector<double> profiles = reference.betas;
    for (size_t k = 0; k < study.filler_probes; ++k) {
        char name[32];
        snprintf(name, sizeof name, "cg9%07zu", k);
        probes.push_back(name);
        const double base = 0.1 + 0.8 * unit(random);
        for (size_t j = 0; j < t; ++j) profiles.push_back(std::min(0.98, std::max(0.02, base + 0.15 * normal(random))));
    }
    // Hidden factors: a random loading per probe and a score per sample.
    std::vector<double> loading(probes.size() * study.hidden), score(study.samples * study.hidden);
    for (double& v : loading) v = normal(random);
    for (size_t f = 0; f < study.hidden; ++f)
        for (size_t s = 0; s < study.samples; ++s) score[s * study.hidden + f] = 0.3 / (f + 1) * normal(random);
    std::string config, annotation;
    for (size_t p = 0; p < probes.size(); ++p)
        annotation += probes[p] + "\tchr1\t" + std::to_string(1000 + 500 * p) + "\tOpenSea\n";
    study.proportions.assign(study.samples * t, 0.0);
    study.groups.clear();
    for (size_t s = 0; s < study.samples; ++s) {
        const bool is_case = s % 2 == 1;
        study.groups.push_back(is_case ? "case" : "control");
        // Granulocytes 0.5-0.7 (plus the shift), the rest shared at random.
        double* w = &study.proportions[s * t];
        w[0] = 0.5 + 0.2 * unit(random) + (is_case ? study.shift : 0.0);
        double rest = 0.0;
        for (size_t j = 1; j < t; ++j) rest += w[j] = 0.2 + unit(random);
        for (size_t j = 1; j < t; ++j) w[j] *= (1.0 - w[0]) / rest;
        const double age = 20.0 + 50.0 * unit(random);
        std::string data;
        for (size_t p = 0; p < probes.size(); ++p) {
            double beta = study.noise * normal(random);
            for (size_t j = 0; j < t; ++j) beta += w[j] * profiles[p * t + j];
            beta = std::min(0.995, std::max(0.005, beta));
            if (study.covariable_effect != 0.0 || study.hidden > 0) {
                double logit = std::log(beta / (1 - beta)) + study.covariable_effect * (age - 45.0) / 25.0;
                for (size_t f = 0; f < study.hidden; ++f)
                    logit += loading[p * study.hidden + f] * score[s * study.hidden + f];
                beta = 1.0 / (1.0 + std::exp(-logit));
            }
            char line[96];
            snprintf(line, sizeof line, "%s\t%.6f\t0.001\n", probes[p].c_str(), beta);
            data += line;
        }
        char name[32];
        snprintf(name, sizeof name, "S%02zu", s + 1);
        write_text(dir + "/" + name + ".txt", data);
        config += std::string(name) + ".txt\t" + name + "\t" + study.groups.back() + "\t" + std::to_string(age) + "\n";
    }
    write_text(dir + "/config", config);
    write_text(dir + "/probe.ann", annotation);
}

// Rows of a tab-separated table, each split into fields.
inline std::vector<std::vector<std::string>> table_rows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::vector<std::string> fields;
        size_t field = start;
        while (true) {
            const size_t tab = text.find('\t', field);
            if (tab == std::string::npos || tab > end) {
                fields.push_back(text.substr(field, end - field));
                break;
            }
            fields.push_back(text.substr(field, tab - field));
            field = tab + 1;
        }
        rows.push_back(fields);
        start = end + 1;
    }
    return rows;
}

#endif
