#include "engine/config_signature_check.h"

#include "download/download_step.h"
#include "engine/config_signature.h"
#include "os/fs/file_api.h"
#include "os/fs/file_util.h"
#include "platform/xml_bounds.h"

namespace pelisto {
namespace {

// One refusal: the line, the message, and the run goes no further.
bool Refuse(RunContext& context, const std::string& text) {
  context.WriteLog(context.GetLogTime() + " " + text, 2);
  context.ShowMessage(text);
  return false;
}

void Remove(RunContext& context, const std::string& path) {
  if (os::FileExists(path)) context.Privileged().DeleteFile(path);
}

}  // namespace

bool ReadConfigPublicKey(RunContext& context, std::string* key) {
  const std::string& text = context.Settings().config_public_key;
  key->clear();
  if (text.empty()) return true;
  if (ParsePublicKey(text, key)) return true;
  return Refuse(context, "configPublicKey is not the base64 of a 32-byte Ed25519 public key");
}

bool CheckConfigSignature(RunContext& context, const std::string& key, const std::string& url,
                          const std::string& local, std::string* verified) {
  const std::string signature_url = url + kSignatureSuffix;
  const std::string signature_path = local + kSignatureSuffix;
  const bool fetched =
      DownloadConfigFile(context, signature_url, signature_path, context.Settings().self_ui, 1) != 0;

  std::string content;
  const bool read_signature =
      fetched && os::ReadWholeFile(signature_path, &content, kMaxSignatureFileBytes);
  Remove(context, signature_path);

  std::string signature;
  std::string document;
  bool good = false;
  if (!fetched) {
    Refuse(context, "Configuration signature missing: " + signature_url);
  } else if (!read_signature || !ParseSignatureFile(content, &signature)) {
    Refuse(context, "Configuration signature malformed: " + signature_url);
  } else if (!os::ReadWholeFile(local, &document, kConfigBounds.max_document_bytes)) {
    Refuse(context, "Configuration not readable for its signature check: " + local);
  } else if (!VerifyEd25519(key, document, signature)) {
    Refuse(context, "Configuration signature wrong: " + url);
  } else {
    good = true;
  }
  if (!good) {
    Remove(context, local);
    return false;
  }
  *verified = std::move(document);
  context.WriteLog(context.GetLogTime() + " Configuration signature verified: " + url, 0);
  return true;
}

}  // namespace pelisto
