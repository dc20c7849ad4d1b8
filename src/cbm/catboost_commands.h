// The CatBoost inspector (`catboost`, `cbm`), explanation and diff.
#pragma once

#include <string>

#include "cbm/cbm_summary.h"
#include "main/io.h"
#include "main/json_output.h"
#include "main/status.h"

namespace tarnwick {

Status catboost_command(const Args& args, Io& io);
Status explain_catboost(const std::string& path, Io& io);
Status diff_catboost(const std::string& old_path, const std::string& new_path, bool deep, bool json, Io& io);

Json catboost_summary_object(const CbmSummary& summary);
Json catboost_inspect_document(const CbmSummary& summary);
Json catboost_diff_document(const CbmSummary& old_model, const CbmSummary& new_model);

}  // namespace tarnwick
