// Positions (twips) shared by the panels beside the serial frame.
#pragma once

constexpr int kPanelTop = 120;
constexpr int kPanelWidth = 3255;
constexpr int kPanelHeight = 6855;
constexpr int kFirstPanelLeft = 2640;
constexpr int kSecondPanelLeft = 6000;
constexpr int kOneColumnWidth = 6030;
constexpr int kTwoColumnWidth = 9375;
