#pragma once
// The transport bar under the player of every playback window. It drives a list of players as one:
// play and pause start and stop all of them at one host time, the time slider seeks all of them,
// stepping and volume act on all of them. The first player is the main player: its clock, rate and
// current time stand for the group, and the bar's periodic time observer sits on it.

#include "platform/foundation/MediaTime.h"
#include "platform/media/player/Player.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <memory>

class QFrame;
class QLabel;
class QPushButton;
class QSlider;
class ZRNAVCaptureProject;
class ZRNAVPlayerView;
class ZRNMovieSyncSlider;
class ZRNSliderOverlayView;
namespace Ui {
class ZRNTransportBar;
}

// The bar's images, drawn in code: "SndLevel0", "SndLevel3", "zrn_av_cine_play_plain",
// "zrn_av_cine_pause_plain".
QPixmap ZRNTransportImageNamed(const QString& name, int size);

class ZRNSynchroMovieControllerView : public QWidget {
  Q_OBJECT

 public:
  explicit ZRNSynchroMovieControllerView(QWidget* parent = nullptr);
  ~ZRNSynchroMovieControllerView() override;

  // Controls (made by the constructor; rateSlider is never made).
  QFrame* paletteBox() const { return m_paletteBox; }
  QPushButton* sndOffBtn() const { return m_sndOffBtn; }
  QSlider* sndLevelSlider() const { return m_sndLevelSlider; }
  QPushButton* sndOnBtn() const { return m_sndOnBtn; }
  QPushButton* playBtn() const { return m_playBtn; }
  QSlider* rateSlider() const { return m_rateSlider; }
  QLabel* timeText() const { return m_timeText; }
  ZRNMovieSyncSlider* slider() const { return m_slider; }
  QLabel* timeLeftText() const { return m_timeLeftText; }
  QPushButton* timeLeftToggleBtn() const { return m_timeLeftToggleBtn; }
  ZRNSliderOverlayView* sliderOverlayView() const { return m_sliderOverlayView; }
  // The name of the image the play button shows now.
  QString playBtnImageName() const { return m_playBtnImageName; }
  // The play button's distance from the bar's leading edge.
  int playBtnLeftConstrain() const { return m_playBtnLeft; }

  std::shared_ptr<ZRNAVCaptureProject> theAVProject() const { return m_theAVProject.lock(); }
  void setTheAVProject(const std::shared_ptr<ZRNAVCaptureProject>& project) { m_theAVProject = project; }
  ZRNAVPlayerView* theAVView() const;
  void setTheAVView(ZRNAVPlayerView* view);
  QList<std::shared_ptr<Player>> synchronizedPlayersArray() const { return m_players; }
  bool hasTimeObserver() const { return m_movieTimeObserver != 0; }
  MediaTime maxSynchroTime() const { return m_maxSynchroTime; }
  void setMaxSynchroTime(const MediaTime& t) { m_maxSynchroTime = t; }
  MediaTime inTime() const { return m_inTime; }
  MediaTime outTime() const { return m_outTime; }
  MediaTime matchStartTime() const { return m_matchStartTime; }
  float soundLevel() const { return m_soundLevel; }
  void setSoundLevel(float level) { m_soundLevel = level; }
  bool weAreSynchronized() const { return m_weAreSynchronized; }
  void setWeAreSynchronized(bool value) { m_weAreSynchronized = value; }
  bool showRateSlider() const { return m_showRateSlider; }
  bool showTimeOnTheRight() const { return m_showTimeOnTheRight; }
  bool showTimeLeft() const { return m_showTimeLeft; }
  void setShowTimeLeft(bool value) { m_showTimeLeft = value; }

  std::shared_ptr<Player> mainPlayer() const;
  void addSynchronizedPlayer(const std::shared_ptr<Player>& player);
  void removeSynchronizedPlayer(const std::shared_ptr<Player>& player);

  void U_UpdateTimeStringsForTime(const MediaTime& time);
  void toggleDurationString();
  void togglePlay();
  void playClicked();
  void UU_SetupForPlaying();
  void UU_SetupForPaused();
  void updatePlayerForMovieTime(const MediaTime& time);
  void updateControllerForNoMovie();
  void enableSoundControls(bool enable, const QString& toolTip);
  void updateControllerForSound(bool hasSound);
  void updateControllerForMovieDuration(const MediaTime& duration);
  void adjustMovieTime();
  void updateControllerForMovieRate(float rate);
  void adjustMovieRate();
  void stepBackwards(QObject* sender = nullptr);
  void stepForward(QObject* sender = nullptr);
  void soundOFF();
  void soundMAX();
  void adjustSoundLevel();
  void defineMatchStartTime(const MediaTime& time);
  void defineInTime(const MediaTime& time);
  void defineOutTime(const MediaTime& time);
  void resizedWindow();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void commonInit();
  void U_SetUpSoundControls(const Ui::ZRNTransportBar& layout);
  void U_SetUpPositionControls(const Ui::ZRNTransportBar& layout);
  void U_SetUpTimeLeftControls(const Ui::ZRNTransportBar& layout);
  void U_Layout();
  void U_SetUpAccessibility();
  void U_SetPlayImage(const QString& name);
  // Sets the in mark (or the out mark) on the main thread and shows it on the slider and its overlay.
  void U_DefineMark(bool isIn, const MediaTime& time);
  void U_AddTimeObserver(const std::shared_ptr<Player>& player);
  // The play button follows the main player's rate.
  void U_FollowMainPlayerRate(const std::shared_ptr<Player>& player);
  // What the time on the right is (its label's name) and what a click on it does (its button's description).
  void U_DescribeTimeLeftToggle();
  void U_SetTimeLeftToolTip(const QString& tip);
  static bool U_ShowMatchTimes();

  QFrame* m_paletteBox = nullptr;
  QPushButton* m_sndOffBtn = nullptr;
  QSlider* m_sndLevelSlider = nullptr;
  QPushButton* m_sndOnBtn = nullptr;
  QPushButton* m_playBtn = nullptr;
  QSlider* m_rateSlider = nullptr;
  QLabel* m_timeText = nullptr;
  ZRNMovieSyncSlider* m_slider = nullptr;
  QFrame* m_trackBox = nullptr;
  ZRNSliderOverlayView* m_sliderOverlayView = nullptr;
  QLabel* m_timeLeftText = nullptr;
  QPushButton* m_timeLeftToggleBtn = nullptr;
  QString m_playBtnImageName;
  int m_playBtnLeft = 0;
  bool m_soundControlsShown = true;

  std::weak_ptr<ZRNAVCaptureProject> m_theAVProject;
  QPointer<ZRNAVPlayerView> m_theAVView;
  QList<std::shared_ptr<Player>> m_players;
  Player::TimeObserverToken m_movieTimeObserver = 0;
  QMetaObject::Connection m_mainRateConnection;
  MediaTime m_maxSynchroTime = kMediaTimeZero;
  MediaTime m_inTime = MediaTime_ClearedMark();
  MediaTime m_outTime = MediaTime_ClearedMark();
  MediaTime m_matchStartTime = kMediaTimeZero;
  float m_soundLevel = 1.0f;
  bool m_weAreSynchronized = true;
  bool m_showRateSlider = false;
  bool m_showTimeOnTheRight = true;
  bool m_showTimeLeft = true;
};
