#include "http/form_body.h"

namespace OrbwellSearch {

namespace {

void append(std::vector<uint8_t>& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

std::string build_urlencoded_body(const std::vector<FormField>& fields) {
  std::string body;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) body += '&';
    body += fields[i].name + "=" + fields[i].value;
  }
  return body;
}

std::optional<std::vector<uint8_t>> build_multipart_body(const std::vector<FormField>& fields,
                                                         const File_Reader& read_file) {
  const std::string delimiter = std::string("--") + kMultipartBoundary + "\r\n";
  std::vector<uint8_t> body;
  for (const FormField& f : fields) {
    append(body, delimiter);
    if (!f.is_file) {
      append(body, "Content-Disposition: form-data; name=\"" + f.name + "\"\r\n\r\n" + f.value + "\r\n");
      continue;
    }
    append(body, "Content-Disposition: form-data; name=\"" + f.name + "\"; filename=\"" + f.value +
                     "\"\r\n\r\n");
    const auto content = read_file(f.source.empty() ? f.value : f.source);
    if (!content) return std::nullopt;
    body.insert(body.end(), content->begin(), content->end());
    append(body, "\r\n");
  }
  append(body, std::string("--") + kMultipartBoundary + "--\r\n");
  return body;
}

}  // namespace OrbwellSearch
