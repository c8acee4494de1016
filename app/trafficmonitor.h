// The traffic monitor of a module window, opened from the window's Ctrl+T and right-click menu
// through its hooks: the monitor belongs to the program, not to the layer the window comes from.
#pragma once

class ModuleWindow;
class TrafficWindow;

// The window's monitor raised, or a new one over every frame since the window opened.
TrafficWindow *openTrafficMonitor(ModuleWindow *window);
// The same from the window's menu and Ctrl+T: built and shown once no request of the window waits
// for its reply, so its building holds back no reply's bytes.
void openTrafficMonitorWhenIdle(ModuleWindow *window);
