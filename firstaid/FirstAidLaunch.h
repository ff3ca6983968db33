#pragma once
// Counting of launches and of crashes found at launch.

// At each normal start: the launch counter moves only once it is positive (it starts every run at -1),
// the counters are saved, and the preferences' run counter goes up by one.
void FirstAid_CountNormalLaunch();
// When a crash is found at launch: one more first aid in the counters, one more crash in the preferences.
void FirstAid_CountFirstAid();
