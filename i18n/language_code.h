#pragma once

#include <QString>

// Two-letter image folder code of the current language (language_list[language_index]);
// "en" for unknown names, an empty list or an index outside it.
QString language_code();

// Resource paths of the language-specific button pictures. These are paths, not pixmaps, so
// this library stays free of GUI types; the caller loads them.
// ":/images/multilang/<code>/btn_top<a><b>.png": a = button 1..3, b = state 1..3.
QString top_button_image(const QString& a, const QString& b);
// "/images/multilang/<code>/btn_start_scan<s>.png", without the resource colon.
QString start_scan_image(const QString& s);
// "/images/multilang/<code>/btn_resume_recovery<s>.png", without the resource colon.
QString resume_recovery_image(const QString& s);

// Three-state border-image style sheet over resource paths given without their colon.
QString image_button_style(const QString& normal, const QString& hover, const QString& pressed);
