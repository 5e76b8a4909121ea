#pragma once
// Ownership of GLib and GMime objects (handles::Owned): a GObject released
// with g_object_unref, a string of GLib's with g_free.
#include "platform/Handles.h"

#include <gmime/gmime.h>

namespace maillib {

template <class T>
using GObjectRef = handles::Owned<T, g_object_unref>;
using GText = handles::Owned<char, g_free>;
using GParserOptions = handles::Owned<GMimeParserOptions, g_mime_parser_options_free>;
using GPartIter = handles::Owned<GMimePartIter, g_mime_part_iter_free>;

}  // namespace maillib
