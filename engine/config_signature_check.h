// The signature step of an update run whose page carries the publisher's key
// (configPublicKey): the detached signature is fetched beside the downloaded configuration and
// checked over its exact bytes before anything reads the document. With the key empty the
// run takes no part of this step.
//
// Log lines (the time stamp, then the text), each at level 2 unless said otherwise; the same
// text, without the stamp's blank, goes to ShowMessage:
//   " configPublicKey is not the base64 of a 32-byte Ed25519 public key"
//   " Configuration signature missing: " + signature address
//   " Configuration signature malformed: " + signature address
//   " Configuration signature wrong: " + configuration address
//   " Configuration not readable for its signature check: " + local file
//   " Configuration signature verified: " + configuration address   (level 0)
#pragma once

#include <string>

#include "control/run_context.h"

namespace pelisto {

// The key of the run. True when the run may go on: configPublicKey is empty (`*key` cleared:
// no signature is asked for) or the base64 of 32 bytes (`*key` the raw key). False after the
// line and the message when it is neither: a run never falls back to unsigned.
bool ReadConfigPublicKey(RunContext& context, std::string* key);

// Downloads `url` + ".sig" to `local` + ".sig" with the configuration's download step (the same
// dialog choice, work folder and temporary file) and verifies the bytes at `local` with
// `key`. On success `*document` holds the bytes verified: the run reads the document from
// them, as the file may be written by others meanwhile (the work folder of Windows 6 is one a
// low-integrity process writes). The signature file is removed afterwards whatever the
// outcome; on failure the configuration at `local` is removed too, after the line and the
// message.
bool CheckConfigSignature(RunContext& context, const std::string& key, const std::string& url,
                          const std::string& local, std::string* document);

}  // namespace pelisto
