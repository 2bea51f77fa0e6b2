#pragma once
// The log pane as assistive tools and desktop automation see it: a read-only multi-line text
// whose text, lines, selection and character positions are read from the pane's store when
// asked, never copied on every change.

// Registers the pane's accessibility interface with Qt (once; later calls do nothing).
void InstallLogPaneAccessibility();
