// The CatBoost inspector (`catboost`, `cbm`), explanation and diff.
#pragma once

#include <ostream>
#include <string>

#include "cbm/cbm_summary.h"
#include "base/io.h"
#include "base/json_output.h"
#include "base/status.h"

namespace tarnwick {

Status catboost_command(const Args& args, Io& io);
Status explain_catboost(const std::string& path, Io& io);
Status diff_catboost(const std::string& old_path, const std::string& new_path, bool deep, bool json, Io& io);

Json catboost_summary_object(const CbmSummary& summary);
Json catboost_inspect_document(const CbmSummary& summary);
Json catboost_diff_document(const CbmSummary& old_model, const CbmSummary& new_model);

// The explain-diff sections between "Architecture:" and the verdict.
void explain_catboost_change(std::ostream& out, const CbmSummary& old_model, const CbmSummary& new_model);

}  // namespace tarnwick
