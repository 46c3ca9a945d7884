#pragma once
// The engine's error domains and the codes of them the player tells apart,
// as plain values: what a pipeline error carries up to the session.

namespace didira {

// GStreamer's error domains, so that the classifier is testable without it.
enum class ErrorDomain { None, Core, Library, Resource, Stream };
// The codes of those domains that matter here (GStreamer's numbering).
inline constexpr int kCoreMissingPlugin = 12;     // GST_CORE_ERROR_MISSING_PLUGIN
inline constexpr int kResourceNotFound = 3;       // GST_RESOURCE_ERROR_NOT_FOUND
inline constexpr int kResourceNotAuthorized = 15; // GST_RESOURCE_ERROR_NOT_AUTHORIZED

} // namespace didira
