#include "uploader/upload_job.h"

#include "core/ascii.h"
#include "core/result.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/unicode.h"
#include "shell/clipboard.h"
#include "uploader/multipart.h"
#include "uploader/qr_svg.h"
#include "uploader/remote_client.h"
#include "zipper/archive_builder.h"

#include <limits>
#include <memory>

namespace uploader {

namespace {

struct PreparedFile {
    std::filesystem::path path;
    std::optional<std::filesystem::path> temporary_archive;
};

core::Result<PreparedFile> choose_file(const server::JobHandle& job, const config::TargetSummary& target,
                                       const std::vector<std::filesystem::path>& paths)
{
    if (!target.needs_zip) {
        if (paths.empty())
            return core::fail("공유할 파일을 찾을 수 없습니다.");
        return PreparedFile{paths.front(), std::nullopt};
    }
    const auto path = zipper::temp_archive_path();
    auto out = job.temp_files().create(path);
    if (!out)
        return core::fail("임시 압축파일 생성 실패: " + out.error());
    auto archive = zipper::build_archive_into(std::move(*out), path, paths, *job.counters().zip_done_bytes);
    if (!archive) {
        job.temp_files().remove(path);
        return std::unexpected(archive.error());
    }
    return PreparedFile{*archive, *archive};
}

std::optional<std::string> trimmed_non_empty(const std::optional<std::string>& value)
{
    if (!value)
        return std::nullopt;
    auto t = platform::trim_unicode_ws(*value);
    if (t.empty())
        return std::nullopt;
    return t;
}

// Steps from the upload phase to the parsed reply; the archive, if any, is the caller's.
core::Result<server::UploadResult> upload(const server::JobHandle& job, const config::DesktopConfig& cfg,
                                          const config::TargetSummary& target, const std::filesystem::path& file_path,
                                          const std::optional<std::string>& custom_code,
                                          const std::string& expiry_option, const std::optional<std::string>& qr_details)
{
    const auto& counters = job.counters();
    counters.upload_started_ms->store(job.elapsed_ms());
    job.update([](server::JobState& record) {
        record.phase = "uploading";
        record.percent = 0.0;
    });

    const auto base = base_url(cfg.server_url);
    const auto url = base + (target.kind == config::TargetKind::DirectMedia ? "/api/upload-video" : "/api/upload-document");

    auto opened = platform::File::open_read(file_path);
    if (!opened)
        return core::fail("업로드할 파일을 열 수 없습니다: " + opened.error());
    auto file = std::make_shared<platform::File>(std::move(*opened));
    const auto size = file->size();
    if (!size)
        return core::fail("파일 크기 조회 실패: " + size.error());

    const auto boundary = make_boundary(platform::unix_epoch_ns());
    std::string header;
    header.reserve(1024);
    write_form_field(header, boundary, "expiry_option", expiry_option);
    if (const auto code = trimmed_non_empty(custom_code))
        write_form_field(header, boundary, "custom_code", *code);
    if (const auto details = trimmed_non_empty(qr_details))
        write_form_field(header, boundary, "qr_details", *details);
    const auto file_name = sanitize_part_filename(target.upload_filename);
    write_file_part_head(header, boundary, file_name, content_type_for_name(file_name));
    auto trailer = make_trailer(boundary);

    const auto total = saturating_add(saturating_add(header.size(), *size), trailer.size());
    counters.upload_sent_bytes->store(0);
    counters.upload_total_bytes->store(total);

    // The file can be read again, so a redirect that must resend the body can be followed.
    auto body = std::make_shared<MultipartBody>(
        std::move(header), std::move(trailer), counters.upload_sent_bytes,
        [file](std::span<char> dest) { return file->read(dest.data(), dest.size()); }, *size,
        [file]() -> core::Result<void> {
            VANO_TRY(file->seek(0));
            return core::ok();
        });

    platform::HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.headers = {
        {"X-API-Key", cfg.api_key},
        {"Content-Type", "multipart/form-data; boundary=" + boundary},
        {"Content-Length", std::to_string(total)},
    };
    request.body = platform::HttpStreamBody{total, [body](std::span<char> dest) { return body->read(dest); },
                                            [body] { return body->rewind(); }};
    request.max_body_bytes = max_reply_body_bytes;
    request.max_error_body_bytes = max_error_body_bytes;

    const auto reply = make_agent(true).send(std::move(request));
    if (!reply) {
        // Nothing was lost on the way: the service sent the upload elsewhere.
        if (const auto status = platform::refused_redirect_status(reply.error()))
            return core::fail(refused_redirect_text(*status));
        return core::fail("업로드 중 네트워크 연결이 끊어졌습니다: " + reply.error());
    }
    // A success reply that broke off is as good as none: its JSON cannot be trusted.
    if (reply->status < 300 && reply->body_error)
        return core::fail("업로드 중 네트워크 연결이 끊어졌습니다: " + *reply->body_error);
    // A redirect that was not followed (one with no Location) delivered nothing either.
    if (reply->status >= 300)
        return core::fail(read_api_result(*reply));
    auto json = parse_success_body(*reply);
    if (!json)
        return core::fail("업로드 응답 파싱 실패: " + json.error());
    return make_upload_result(*json, base, file_name, *size);
}

// An absolute http or https URL: the page makes it a link, so no other scheme may pass.
bool is_web_link(std::string_view text)
{
    const std::string head = core::ascii_lower(text.substr(0, 8));
    const auto starts = [&](std::string_view prefix) { return text.size() > prefix.size() && head.starts_with(prefix); };
    return starts("http://") || starts("https://");
}

} // namespace

std::string refused_redirect_text(std::uint16_t status)
{
    return "서비스가 업로드를 다른 주소로 넘기려 했으나 따르지 않았습니다 (HTTP " + std::to_string(status) + ").";
}

std::string not_copied_text(std::string_view why)
{
    return "단축 링크가 클립보드에 복사되지 않았습니다 (" + std::string(why) + "). \"📋 복사\"를 누르면 다시 시도합니다.";
}

core::Result<server::UploadResult> make_upload_result(const server::Json& reply, std::string_view base,
                                                      std::string_view sent_name, std::uint64_t file_size)
{
    const auto text = [&](std::string_view key) { return reply_text(reply, key); };
    server::UploadResult r;
    r.short_code = text("short_code").value_or("");
    // Only a reply that names the link or its code is an upload the service took; anything
    // else would put the service's root address, or nothing, on the clipboard.
    if (auto url = text("short_url"); url && is_web_link(*url))
        r.short_url = std::move(*url);
    else if (!r.short_code.empty())
        r.short_url = std::string(base) + "/" + r.short_code;
    else
        return core::fail(std::string(no_link_message));
    r.original_name = text("original_name").value_or(std::string(sent_name));
    r.file_size = file_size;
    if (reply.is_object()) {
        // Only an integer written without fraction or exponent counts; the parser keeps
        // those as unsigned, and any negative value as signed.
        const auto it = reply.find("file_size");
        if (it != reply.end() && it->is_number_unsigned())
            r.file_size = it->get<std::uint64_t>();
    }
    r.expires_at = text("expires_at").value_or("");
    r.message = text("message").value_or("공유 링크 생성 완료");
    return r;
}

void run_upload_job(server::JobHandle job, config::DesktopConfig config, config::TargetSummary target,
                    std::vector<std::filesystem::path> paths, std::optional<std::string> custom_code,
                    std::string expiry_option, std::optional<std::string> qr_details)
{
    std::optional<std::filesystem::path> archive;
    core::Result<server::UploadResult> outcome = [&]() -> core::Result<server::UploadResult> {
        auto prepared = choose_file(job, target, paths);
        if (!prepared)
            return std::unexpected(prepared.error());
        archive = prepared->temporary_archive;
        return upload(job, config, target, prepared->path, custom_code, expiry_option, qr_details);
    }();

    if (archive)
        job.temp_files().remove(*archive);

    if (!outcome) {
        job.finish([&](server::JobState& record) {
            record.phase = "error";
            record.error = outcome.error();
        });
        return;
    }
    const auto copied = shell::copy_to_clipboard(outcome->short_url);
    auto svg = render_qr_svg(outcome->short_url);
    job.finish([&](server::JobState& record) {
        record.phase = "done";
        record.percent = 100.0;
        record.detail_text = copied ? std::string(copied_text) : not_copied_text(copied.error());
        record.qr_svg = std::move(svg);
        record.result = std::move(*outcome);
    });
}

} // namespace uploader
