// The shape of a document as the registry-mode reader's parser will build it, measured
// before that parser runs. The parser descends one level of recursion per nested element
// and searches an element's attributes linearly for each new one, so depth and attribute
// counts must be known, and bounded, beforehand.
//
// The walk follows that parser's own reading of markup step by step (its declarations,
// comments, CDATA sections, other "<!" and "<?" markup ending at the first ">", quoted and
// unquoted attribute values, character references that run to the next ";", end tags with
// blanks before ">", skipped byte order marks), without recursion. Up to the point where
// the parser would stop with an error the measures are the parser's exactly; past it the
// walk goes on, so they can only be larger than what the parser reaches.
#pragma once

#include <string_view>

#include "platform/xml_bounds.h"

namespace pelisto {

// Measures `text` (the system code page; `utf8` when that is UTF-8, in which case the text
// is valid UTF-8). Stops as soon as one measure passes its bound in `bounds`, so a hostile
// document costs no more than the part of it read up to there. Attribute sizes are counted
// as written (entities undecoded), never less than the parsed value.
XmlShape MeasureRegistryConfig(std::string_view text, bool utf8, const XmlBounds& bounds);

}  // namespace pelisto
