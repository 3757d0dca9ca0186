#ifndef PULVO_PROMETHEUS_TEXT_H
#define PULVO_PROMETHEUS_TEXT_H

// The pieces of the Prometheus text format that every metrics output writes.

#include <string>

// A sample value: shortest exact form, NaN and infinities spelt the way the
// text format wants them.
std::string MetricValue(double value);
// A label value with its backslashes, quotes and line breaks escaped.
std::string EscapeLabel(const std::string& value);

#endif  // PULVO_PROMETHEUS_TEXT_H
