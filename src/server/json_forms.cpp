#include "server/json_forms.h"

namespace server {
namespace {

template <class T>
Json optional_value(const std::optional<T>& v)
{
    if (!v)
        return nullptr;
    if constexpr (std::is_same_v<T, std::string>)
        return *v;
    else
        return to_value(*v);
}

} // namespace

Json to_value(const config::TargetSummary& target)
{
    Json paths = Json::array();
    for (const auto& p : target.paths)
        paths.push_back(p);
    return Json{
        {"kind", std::string(config::target_kind_text(target.kind))},
        {"display_name", target.display_name},
        {"upload_filename", target.upload_filename},
        {"suggested_code", target.suggested_code},
        {"item_count", target.item_count},
        {"file_count", target.file_count},
        {"raw_bytes", target.raw_bytes},
        {"limit_bytes", target.limit_bytes},
        {"limit_mb", target.limit_mb},
        {"needs_zip", target.needs_zip},
        {"force_3day_expiry", target.force_3day_expiry},
        {"valid", target.valid},
        {"error_message", optional_value(target.error_message)},
        {"paths", std::move(paths)},
    };
}

Json to_value(const UploadResult& result)
{
    return Json{
        {"short_code", result.short_code},
        {"short_url", result.short_url},
        {"original_name", result.original_name},
        {"file_size", result.file_size},
        {"expires_at", result.expires_at},
        {"message", result.message},
    };
}

Json to_value(const JobState& job)
{
    return Json{
        {"phase", job.phase},
        // A double: the serialiser writes the shortest exact form with a decimal point
        // and null when it is not finite.
        {"percent", job.percent},
        {"detail_text", job.detail_text},
        {"error", optional_value(job.error)},
        {"result", optional_value(job.result)},
        {"qr_svg", optional_value(job.qr_svg)},
    };
}

} // namespace server
