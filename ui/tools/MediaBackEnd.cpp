#include "ui/tools/MediaBackEnd.h"

#include <gst/gst.h>

#include <QStringList>

namespace {

// What Qt's GStreamer player builds as it is made; without one of them it
// crashes. The core's own elements, then those of gstreamer1.0-plugins-base.
// The demuxers and decoders a clip needs (plugins-good, libav) are looked
// for only when it is played, and a missing one is a player error.
constexpr const char* kElements[] = {"input-selector", "queue", "identity", "fakesink",
                                     "uridecodebin",   "decodebin", "videoconvert"};

QString Asked() {
  const QByteArray chosen = qgetenv("QT_MEDIA_BACKEND");
  if (chosen == "ffmpeg") return {};
  if (!chosen.isEmpty() && chosen != "gstreamer")
    return QString("QT_MEDIA_BACKEND names \"%1\", which is no media back end of Qt's here").arg(chosen);
  GError* error = nullptr;
  if (!gst_init_check(nullptr, nullptr, &error)) {
    const QString why = error != nullptr ? QString::fromUtf8(error->message) : QString("no reason given");
    if (error != nullptr) g_error_free(error);
    return "GStreamer does not start: " + why;
  }
  QStringList missing;
  for (const char* name : kElements) {
    GstElementFactory* factory = gst_element_factory_find(name);
    if (factory == nullptr) {
      missing << name;
    } else {
      gst_object_unref(factory);
    }
  }
  if (missing.isEmpty()) return {};
  return "GStreamer lacks " + missing.join(", ") +
         " (install gstreamer1.0-plugins-base, gstreamer1.0-plugins-good and gstreamer1.0-libav)";
}

}  // namespace

QString MediaBackEndMissing() {
  // The plugins do not come or go while the program runs.
  static const QString missing = Asked();
  return missing;
}
