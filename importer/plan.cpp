// The pipeline: the tones of the file, the grid, the voices, the rows,
// then the score's check by the player it is for, and the summary.
#include <algorithm>

#include "importer/stages.h"
#include "score/check.h"
#include "score/score.h"

namespace pitchime::importer {

namespace {

// The counts of the summary, from the lines of the report.
void countFates(const std::vector<Entry>& entries, Summary& sum) {
    for (const Entry& e : entries) {
        if (e.fate == Fate::moved) ++sum.moved;
        if (e.fate == Fate::cut) ++sum.cut;
        if (e.fate == Fate::merged) ++sum.merged;
        if (e.fate == Fate::dropped || e.fate == Fate::tooLate) ++sum.dropped;
    }
}

}  // namespace

Result plan(const midi::File& file, const Options& options) {
    Result result;
    Prepared prepared = prepare(file, options);
    Summary& sum = result.summary;
    sum.notesRead = file.notes.size();
    sum.leftOut = prepared.leftOut;
    sum.transpose = prepared.transpose;
    sum.lengthUs = prepared.lengthUs;
    sum.pitchBends = prepared.bends;
    sum.melody = prepared.melody;
    if (prepared.tones.empty()) {
        result.refusal = file.notes.empty() ? "no notes in the file"
                                            : "no notes to import (" + std::to_string(prepared.leftOut) +
                                                  " left out by track, channel or as percussion)";
        return result;
    }

    const Grid grid = chooseGrid(prepared.tones, options);
    Allocation allocation = allocate(prepared.tones, grid, options);
    Rows rows = writeRows(allocation.voices, grid, options);
    result.score = std::move(rows.text);

    result.entries = std::move(prepared.moves);
    result.entries.insert(result.entries.end(), allocation.entries.begin(), allocation.entries.end());
    std::stable_sort(result.entries.begin(), result.entries.end(),
                     [](const Entry& x, const Entry& y) { return x.startUs < y.startUs; });
    countFates(result.entries, sum);
    sum.kept = allocation.kept;
    sum.pedalCut = allocation.pedalCut;
    sum.late = allocation.late;
    sum.bpm = grid.bpm;
    sum.sixtyFourthMs = grid.sixtyFourthMs;
    sum.rows = rows.count;
    sum.voices = rows.part;
    sum.maxOnsetErrorUs = allocation.maxOnsetErrorUs;
    sum.scoreLengthUs = rows.endUnits * grid.unitUs;

    if (std::string problem = checkPlayable(result.score, options.trill); !problem.empty()) {
        result.refusal = "the score made does not pass the player's check: " + problem;
    }
    return result;
}

std::string checkPlayable(const std::string& scoreText, bool trill) {
    Score loaded;
    LineReader reader;
    for (std::size_t at = 0; at < scoreText.size(); at += scoreBlockSize) {
        readScoreBlock(reader, std::string_view(scoreText).substr(at, scoreBlockSize), loaded);
    }
    finishScoreLines(reader, loaded);
    parseScore(loaded);
    return checkScore(loaded, trill ? trillRules : threeVoiceRules);
}

}  // namespace pitchime::importer
