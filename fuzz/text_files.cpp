// Text files the user has (opened into a body, the face-mark collection
// copied from another machine): their encoding told from their bytes,
// read, and written back in that encoding.
//
// Checks: whole surrogate pairs; a text read and written back reads the
// same, both in the encoding it came in and as the bytes then tell it.
#include "FuzzCheck.h"
#include "facemarks/collection/FaceMarks.h"
#include "platform/Text.h"

using namespace fuzzcheck;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = bytesOf(data, size);
  const text::FileEncoding encoding = text::detectEncoding(bytes);
  const QString read = text::decodeText(bytes, encoding);
  checkText(read, "text of a file");
  // Written back as it is kept (face marks end with a line break).
  const QString kept = facemarks::withFinalBreak(read);
  FUZZ_CHECK(kept.startsWith(read), QStringLiteral("the final break changed the text"));
  // What a write keeps of the text: CP932 has no code for some characters.
  const QString storable = encoding == text::FileEncoding::Cp932 ? throughCp932(kept) : kept;
  const QByteArray written = text::encodeText(storable, encoding);
  FUZZ_CHECK(text::decodeText(written, encoding) == storable, QStringLiteral("a written file reads back otherwise"));
  // Taken for the same encoding again when the file's bytes came through
  // whole: a byte that was no character and became '?' may leave CP932
  // bytes that are also UTF-8, which no guess can tell apart.
  const bool whole = text::encodeText(read, encoding) == bytes;
  if (!storable.isEmpty() && whole)
    FUZZ_CHECK(text::decodeText(written, text::detectEncoding(written)) == storable,
               QStringLiteral("a written file is taken for another encoding (%1 then %2)")
                   .arg(int(encoding))
                   .arg(int(text::detectEncoding(written))));
  return 0;
}
