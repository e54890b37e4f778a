#include "commands.h"

#include <cstdio>

#include <boost/thread.hpp>

#include "command_line.h"
#include "idat_import.h"
#include "islands.h"
#include "line_reader.h"
#include "manifest.h"
#include "messages.h"
#include "staged_output.h"
#include "study_import.h"

namespace {

const char* const matrix_usage =
    "Usage: cimbrel-import matrix BETAS --samples SHEET --out DIR [options]\n"
    "\n"
    "Writes a cimbrel study from a beta matrix and a sample sheet: DIR/etc/description.xls\n"
    "(the configuration), one gzip data file per sample in DIR/data/ and an empty DIR/run/.\n"
    "Every input may be plain or gzip-compressed.\n"
    "\n"
    "  BETAS                        probes x samples, tab or comma separated: first column the\n"
    "                               probe identifiers, a header row naming the samples; values\n"
    "                               in [0, 1] or missing (NA, NaN, empty); a column whose header\n"
    "                               contains \"Detection Pval\" holds the detection p-values of\n"
    "                               the sample column before it; the vendor software's exports\n"
    "                               (S1.AVG_Beta, S1.Detection Pval, S1.Signal_A, S1.Signal_B, ...)\n"
    "                               and GEO's signal matrices (S1 Methylated Signal, S1 Unmethylated\n"
    "                               Signal) are read too; signals give beta = M / (M + U + 100)\n"
    "  --samples SHEET              sample sheet, CSV or TSV with a header row\n"
    "  --out DIR                    study folder to write (created when missing)\n"
    "  --detp DETP                  detection p-values: a matrix of the same samples and probes\n"
    "                               in the same order\n"
    "  --sample-column NAME         sheet column naming the samples as in BETAS [Sample_Name]\n"
    "  --group-column NAME          sheet column of the sample groups [Sample_Group]\n"
    "  --continuous-column NAME     sheet column of a continuous variable, tested instead of groups\n"
    "  --covariables NAME[,NAME...] sheet columns to adjust for; a numeric column is one\n"
    "                               covariable, a categorical one with k levels k - 1 indicators\n"
    "  --exclude LIST               probe identifiers to leave out, one per line (# comments)\n"
    "  --delimiter auto|tab|comma   field separator of BETAS and DETP [auto: from the header]\n"
    "  --id-column NAME             column of the probe identifiers [the first; after it\n"
    "                               TargetID, ProbeID, ID_REF are taken as identifier columns]\n"
    "  --replicates keep|mean|best  EPIC v2 replicate probes (cg..._TC21): keep each, or write\n"
    "                               at the first one's place the mean of the detected ones or\n"
    "                               the best detected one [keep]\n"
    "  -h, --help                   print this help and exit\n"
    "\n"
    "Messages, progress and the cimbrel command to run go to standard error. Exit status:\n"
    "0 on success, 1 on a usage error or a bad input (nothing is written then).\n";

const char* const manifest_usage =
    "Usage: cimbrel-import manifest MANIFEST --out FILE [--ann COLUMN[,COLUMN...]]\n"
    "\n"
    "Writes cimbrel's probe annotation file (identifier, chromosome, position, annotation)\n"
    "from the vendor's manifest CSV (450K, EPIC, EPIC v2; [Heading], [Assay], [Controls]).\n"
    "MANIFEST may be plain or gzip-compressed.\n"
    "\n"
    "  --out FILE                   annotation file to write, e.g. DIR/data/probe.ann\n"
    "  --ann COLUMN[,COLUMN...]     manifest columns to use as the annotation, joined by \"|\"\n"
    "                               (empty cells as \".\") [Relation_to_UCSC_CpG_Island, empty\n"
    "                               as OpenSea]\n"
    "  -h, --help                   print this help and exit\n"
    "\n"
    "Identifiers are IlmnID as written; chromosomes are written chrN; probes without\n"
    "chromosome or position are left out and counted. Exit status: 0 on success, 1 on a\n"
    "usage error or a bad input (nothing is written then).\n";

const char* const islands_usage =
    "Usage: cimbrel-import islands FILE --out FILE [--layout ucsc|bed]\n"
    "\n"
    "Writes cimbrel's region file (chromosome, start, end, name) from UCSC's\n"
    "cpgIslandExt.txt (bin, chrom, chromStart, chromEnd, name, ...) or a BED file with 3 or\n"
    "more columns, told apart by the columns of the first line. FILE may be plain or\n"
    "gzip-compressed.\n"
    "\n"
    "  --out FILE                   region file to write, e.g. DIR/data/cpgIslandExt.txt\n"
    "  --layout ucsc|bed            the layout of FILE, when its first line could be either\n"
    "  -h, --help                   print this help and exit\n"
    "\n"
    "Both layouts count bases from 0 with the end excluded; the region file counts them\n"
    "from 1 as the probes' positions do, so each region is written as start = chromStart + 1,\n"
    "end = chromEnd + 1 (the same bases). Names lose their white space (\"CpG: 116\" becomes\n"
    "\"CpG:116\"); a BED line without a name gets chrom:start-end as in the file; a line\n"
    "repeating a region is written once. Exit status: 0 on success, 1 on a usage error or a\n"
    "bad input (nothing is written then).\n";

const char* const idat_usage =
    "Usage: cimbrel-import idat SHEET --manifest MANIFEST --out DIR [options]\n"
    "\n"
    "Writes a cimbrel study from the scanner's IDAT files (two per sample, _Grn.idat and\n"
    "_Red.idat, plain or gzip), a sample sheet and the vendor's manifest: DIR/etc/description.xls,\n"
    "one gzip data file per sample in DIR/data/, DIR/data/probe.ann, a quality table\n"
    "DIR/etc/qc.tsv and an empty DIR/run/.\n"
    "\n"
    "  SHEET                        sample sheet, CSV or TSV: a Basename column (path prefix of\n"
    "                               the IDATs, relative to the sheet's folder) or Sentrix_ID and\n"
    "                               Sentrix_Position (files named *<ID>_<Position>_Grn.idat[.gz]\n"
    "                               anywhere under the IDAT folder, GEO's GSM..._ prefixes too)\n"
    "  --manifest MANIFEST          the array's manifest CSV (450K, EPIC, EPIC v2) with its\n"
    "                               address, design and colour columns and its [Controls] block\n"
    "  --out DIR                    study folder to write (created when missing)\n"
    "  --idat-dir DIR               folder searched for Sentrix-named IDATs [the sheet's folder]\n"
    "  --sample-column NAME         sheet column naming the samples [Sample_Name]\n"
    "  --group-column NAME          sheet column of the sample groups [Sample_Group]\n"
    "  --continuous-column NAME     sheet column of a continuous variable, tested instead of groups\n"
    "  --covariables NAME[,NAME...] sheet columns to adjust for (numeric or categorical)\n"
    "  --exclude LIST               probe identifiers to leave out, one per line (# comments)\n"
    "  --background noob|none       normal-exponential background correction with the\n"
    "                               out-of-band intensities, or none [noob]\n"
    "  --dye-bias single|none       scale the red channel by the ratio of the normalisation\n"
    "                               controls' means (NORM_C, NORM_G over NORM_A, NORM_T) [single]\n"
    "  --detection negative|oob     detection p-values from the NEGATIVE controls, or from the\n"
    "                               out-of-band intensities [negative]\n"
    "  --min-beads N                probes with fewer beads at an address get detection\n"
    "                               p-value 1 [3]\n"
    "  --replicates keep|mean|best  EPIC v2 replicate probes (cg..._TC21): keep each, write the\n"
    "                               mean of the detected ones, or the best detected one [keep]\n"
    "  -n, --threads N              samples processed at once [all cores]\n"
    "  -h, --help                   print this help and exit\n"
    "\n"
    "Beta = M / (M + U + 100); betas and detection p-values are written with 6 significant\n"
    "digits; a probe whose address is not on the IDATs is written as missing. Messages,\n"
    "progress and the cimbrel command to run go to standard error. Exit status: 0 on success,\n"
    "1 on a usage error or a bad input (nothing is written then).\n";

// Reads the command line of a subcommand that takes one input and the
// given options, of which required must be present. Returns -1 to go on,
// otherwise the exit status (help or version printed, or a usage error).
int read_arguments(const Messages& messages, const char* usage, const std::vector<std::string>& args,
                   const std::vector<std::string>& options, const std::vector<std::string>& required,
                   Command_line& line) {
    std::string error;
    if (!parse_command_line(args, Option_rules{options, {}, false}, line, error)) return messages.usage_error(error);
    if (line.help) {
        fputs(usage, stdout);
        return 0;
    }
    if (line.version) return messages.version();
    if (line.inputs.size() != 1)
        return messages.usage_error(line.inputs.empty() ? "no input file given" : "more than one input file given");
    for (const std::string& option : required)
        if (line.get(option).empty()) return messages.usage_error("option " + option + " is required");
    return -1;
}

bool read_delimiter(const std::string& text, Delimiter& delimiter) {
    if (text.empty() || text == "auto") delimiter = Delimiter::automatic;
    else if (text == "tab") delimiter = Delimiter::tab;
    else if (text == "comma") delimiter = Delimiter::comma;
    else return false;
    return true;
}

// The sheet and design options shared by matrix and idat; "" or the usage error.
std::string design_options(const Command_line& line, Design_options& design) {
    if (line.has("--sample-column")) design.sample_column = line.get("--sample-column");
    if (line.has("--group-column")) design.group_column = line.get("--group-column");
    design.continuous_column = line.get("--continuous-column");
    design.covariables = split_list(line.get("--covariables"));
    if (line.has("--group-column") && line.has("--continuous-column"))
        return "--group-column and --continuous-column cannot be combined";
    if (line.has("--continuous-column") && design.continuous_column.empty())
        return "--continuous-column needs a column name";
    return "";
}

std::string without_trailing_slashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// One of the words of an option into value; "" or the usage error.
template <class Value>
std::string choice(const Command_line& line, const std::string& option,
                   const std::vector<std::pair<const char*, Value>>& words, Value& value) {
    if (!line.has(option)) return "";
    std::string list;
    for (const auto& [word, meaning] : words) {
        if (line.get(option) == word) {
            value = meaning;
            return "";
        }
        list += (list.empty() ? "" : " or ") + std::string(word);
    }
    return option + " must be " + list + ", not \"" + line.get(option) + "\"";
}

// --replicates into mode; "" or the usage error.
std::string replicates_option(const Command_line& line, Replicates& mode) {
    return choice<Replicates>(line, "--replicates",
                              {{"keep", Replicates::keep}, {"mean", Replicates::mean}, {"best", Replicates::best}}, mode);
}

// The options of the matrix subcommand into the import job; "" or the usage error.
std::string matrix_job(const Command_line& line, Matrix_import& job) {
    job.betas = line.inputs[0];
    job.sheet = line.get("--samples");
    job.out_dir = without_trailing_slashes(line.get("--out"));
    job.detp = line.get("--detp");
    job.exclude = line.get("--exclude");
    job.id_column = line.get("--id-column");
    std::string error = design_options(line, job.design);
    if (!error.empty()) return error;
    if (!read_delimiter(line.get("--delimiter"), job.delimiter))
        return "--delimiter must be auto, tab or comma, not \"" + line.get("--delimiter") + "\"";
    return replicates_option(line, job.replicates);
}

// Where cimbrel will look for the annotation and region files, and how to make them.
void say_missing_inputs(const Messages& messages, const std::string& out_dir) {
    const char* files[][3] = {{"probe.ann", "manifest", "MANIFEST"}, {"cpgIslandExt.txt", "islands", "ISLANDS"}};
    for (const auto& file : files) {
        std::string path = out_dir + "/data/" + file[0];
        if (file_readable(path)) continue;
        messages.say(path + " is not there yet: make it with cimbrel-import " + file[1] + " " + file[2] + " --out " +
                     path);
    }
}

void say_result(const Messages& messages, const std::string& out_dir, const Import_report& report) {
    for (const std::string& note : report.notes) messages.say("note: " + note);
    messages.say("wrote " + plural(report.samples, "sample") + " x " + plural(report.probes, "probe") + ": " +
                 out_dir + "/etc/description.xls and " + std::to_string(report.samples) + " data files in " +
                 out_dir + "/data/");
    std::string names;
    for (const std::string& name : report.covariables) names += (names.empty() ? "" : ", ") + name;
    messages.say(plural(report.covariables.size(), "covariable column") + (names.empty() ? "" : " (" + names + ")"));
    say_missing_inputs(messages, out_dir);
    messages.say("run: " + cimbrel_command(out_dir, report));
}


// The options of the idat subcommand into the import job; "" or the usage error.
std::string idat_job(const Command_line& line, Idat_import& job) {
    job.sheet = line.inputs[0];
    job.manifest = line.get("--manifest");
    job.out_dir = without_trailing_slashes(line.get("--out"));
    job.idat_dir = line.get("--idat-dir");
    job.exclude = line.get("--exclude");
    Preprocess_options& p = job.preprocess;
    std::string error = design_options(line, job.design);
    if (error.empty()) error = choice<Background>(line, "--background", {{"noob", Background::noob}, {"none", Background::none}}, p.background);
    if (error.empty()) error = choice<Dye_bias>(line, "--dye-bias", {{"single", Dye_bias::single}, {"none", Dye_bias::none}}, p.dye_bias);
    if (error.empty())
        error = choice<Detection>(line, "--detection", {{"negative", Detection::negative}, {"oob", Detection::oob}}, p.detection);
    if (error.empty()) error = replicates_option(line, job.replicates);
    if (!error.empty()) return error;
    if (line.has("--min-beads") && (!read_number(line.get("--min-beads"), p.min_beads) ||
                                    line.get("--min-beads").find_first_not_of("0123456789") != std::string::npos))
        return "--min-beads must be a whole number, not \"" + line.get("--min-beads") + "\"";
    job.threads = boost::thread::hardware_concurrency();
    std::string threads = line.has("-n") ? line.get("-n") : line.get("--threads");
    if ((line.has("-n") || line.has("--threads")) &&
        (!read_number(threads, job.threads) || job.threads == 0 || threads.find_first_not_of("0123456789") != std::string::npos))
        return "--threads must be a whole number of 1 or more, not \"" + threads + "\"";
    return "";
}

}  // namespace

int matrix_command(const std::vector<std::string>& args) {
    const Messages messages("cimbrel-import", "matrix");
    Command_line line;
    int status = read_arguments(messages, matrix_usage, args,
                                {"--samples", "--out", "--detp", "--sample-column", "--group-column",
                                 "--continuous-column", "--covariables", "--exclude", "--delimiter", "--id-column",
                                 "--replicates"},
                                {"--samples", "--out"}, line);
    if (status >= 0) return status;
    Matrix_import job;
    std::string error = matrix_job(line, job);
    if (!error.empty()) return messages.usage_error(error);
    Import_report report;
    auto progress = [&messages](const std::string& text) { messages.say(text); };
    if (!import_matrix(job, report, error, progress)) return messages.fail(error);
    say_result(messages, job.out_dir, report);
    return 0;
}

int idat_command(const std::vector<std::string>& args) {
    const Messages messages("cimbrel-import", "idat");
    Command_line line;
    int status = read_arguments(messages, idat_usage, args,
                                {"--manifest", "--out", "--idat-dir", "--sample-column", "--group-column",
                                 "--continuous-column", "--covariables", "--exclude", "--background", "--dye-bias",
                                 "--detection", "--min-beads", "--replicates", "-n", "--threads"},
                                {"--manifest", "--out"}, line);
    if (status >= 0) return status;
    Idat_import job;
    std::string error = idat_job(line, job);
    if (!error.empty()) return messages.usage_error(error);
    Import_report report;
    auto progress = [&messages](const std::string& text) { messages.say(text); };
    if (!import_idat(job, report, error, progress)) return messages.fail(error);
    say_result(messages, job.out_dir, report);
    return 0;
}

int manifest_command(const std::vector<std::string>& args) {
    const Messages messages("cimbrel-import", "manifest");
    Command_line line;
    int status = read_arguments(messages, manifest_usage, args, {"--out", "--ann"}, {"--out"}, line);
    if (status >= 0) return status;
    if (line.has("--ann") && split_list(line.get("--ann")).empty())
        return messages.usage_error("--ann needs one or more column names");
    Manifest_counts counts;
    std::string error;
    if (!check_not_input(line.get("--out"), line.inputs, error) ||
        !import_manifest(line.inputs[0], line.get("--out"), split_list(line.get("--ann")), counts, error))
        return messages.fail(error);
    if (counts.without_position > 0)
        messages.say("note: " + plural(counts.without_position, "probe") + " without chromosome or position left out");
    if (counts.repeated > 0)
        messages.say("note: " + plural(counts.repeated, "row") + " repeating an earlier probe's identical record left out");
    messages.say("wrote " + plural(counts.probes, "probe") + " to " + line.get("--out"));
    return 0;
}

int islands_command(const std::vector<std::string>& args) {
    const Messages messages("cimbrel-import", "islands");
    Command_line line;
    int status = read_arguments(messages, islands_usage, args, {"--out", "--layout"}, {"--out"}, line);
    if (status >= 0) return status;
    Island_layout layout = Island_layout::unknown;
    const std::string given = line.get("--layout");
    if (given == "ucsc") layout = Island_layout::ucsc;
    else if (given == "bed") layout = Island_layout::bed;
    else if (line.has("--layout")) return messages.usage_error("--layout must be ucsc or bed, not \"" + given + "\"");
    Island_counts counts;
    std::string error;
    if (!check_not_input(line.get("--out"), line.inputs, error) ||
        !import_islands(line.inputs[0], line.get("--out"), layout, counts, error))
        return messages.fail(error);
    if (counts.repeated > 0)
        messages.say("note: " + plural(counts.repeated, "line") + " repeating a region written before, left out");
    messages.say("wrote " + plural(counts.regions, "region") + " (" +
                 (layout == Island_layout::ucsc ? "UCSC cpgIslandExt layout" : "BED layout") + ") to " +
                 line.get("--out") + ", 1-based: start = chromStart + 1, end = chromEnd + 1, the same bases");
    return 0;
}

const char* import_usage() {
    return "Usage: cimbrel-import COMMAND [options]\n"
           "\n"
           "Turns the files analysts hold into cimbrel's inputs (plain or gzip input):\n"
           "  matrix     beta matrix + sample sheet -> study folder (configuration, data files)\n"
           "  idat       IDAT files + sample sheet + manifest -> study folder\n"
           "  manifest   vendor manifest CSV -> probe annotation file\n"
           "  islands    UCSC cpgIslandExt.txt or BED -> region file\n"
           "\n"
           "cimbrel-import COMMAND --help describes each command.\n";
}
