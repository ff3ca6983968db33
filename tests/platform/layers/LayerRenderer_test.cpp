#include "platform/layers/LayerRenderer.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

QImage blackFrame(int w, int h) {
  QImage frame(w, h, QImage::Format_RGB32);
  frame.fill(Qt::black);
  return frame;
}

// The rectangle of pixels that are not black.
QRect paintedRect(const QImage& frame) {
  QRect r;
  for (int y = 0; y < frame.height(); ++y)
    for (int x = 0; x < frame.width(); ++x)
      if ((frame.pixel(x, y) & 0xFFFFFF) != 0) r |= QRect(x, y, 1, 1);
  return r;
}

CALayerRef filled(const QRectF& frame, const QColor& color) {
  CALayerRef layer = CALayer::layer();
  layer->setFrame(frame);
  layer->setBackgroundColor(color);
  return layer;
}

}  // namespace

TEST(LayerRenderer, ConstraintLayoutFollowsAResizedSuperlayer) {
  CALayerRef root = CALayer::layer();
  root->setFrame(QRectF(0, 0, 200, 100));
  root->setConstraintLayoutManager(true);
  CALayerRef child = filled(QRectF(0, 0, 10, 10), Qt::red);
  const QString super = QStringLiteral("superlayer");
  child->addConstraint(CAConstraint::constraintWithAttribute(CAConstraintAttribute::MidX, super, CAConstraintAttribute::MidX));
  child->addConstraint(CAConstraint::constraintWithAttribute(CAConstraintAttribute::MidY, super, CAConstraintAttribute::MidY));
  child->addConstraint(
      CAConstraint::constraintWithAttribute(CAConstraintAttribute::Width, super, CAConstraintAttribute::Width, 0.5, 0));
  child->addConstraint(
      CAConstraint::constraintWithAttribute(CAConstraintAttribute::Height, super, CAConstraintAttribute::Height, 0.5, 10));
  // A sibling pinned to the child's left edge, by name.
  child->setName(QStringLiteral("box"));
  CALayerRef tag = filled(QRectF(0, 0, 4, 4), Qt::green);
  tag->addConstraint(CAConstraint::constraintWithAttribute(CAConstraintAttribute::MaxX, QStringLiteral("box"),
                                                           CAConstraintAttribute::MinX));
  tag->addConstraint(CAConstraint::constraintWithAttribute(CAConstraintAttribute::MinY, super, CAConstraintAttribute::MinY));
  root->addSublayer(child);
  root->addSublayer(tag);

  struct Case {
    QSize size;
    QRect box;  // in the picture's rows, which run downwards
    QRect tag;
  };
  for (const Case& c : {Case{{200, 100}, {50, 20, 100, 60}, {46, 96, 4, 4}},
                        Case{{400, 300}, {100, 70, 200, 160}, {96, 296, 4, 4}}}) {
    SCOPED_TRACE(c.size.width());
    root->setFrame(QRectF(QPointF(0, 0), QSizeF(c.size)));
    QImage frame = blackFrame(c.size.width(), c.size.height());
    LayerRenderer_RenderOverImage(frame, root, 0.0);
    EXPECT_EQ(child->frame(), QRectF(c.box.x(), c.size.height() - c.box.bottom() - 1, c.box.width(), c.box.height()));
    EXPECT_EQ(frame.pixelColor(c.box.center()), QColor(Qt::red));
    EXPECT_EQ(frame.pixelColor(c.box.topLeft() - QPoint(1, 1)), QColor(Qt::black));
    EXPECT_EQ(frame.pixelColor(c.box.bottomRight() + QPoint(1, 1)), QColor(Qt::black));
    EXPECT_EQ(frame.pixelColor(c.tag.center()), QColor(Qt::green));
  }
}

TEST(LayerRenderer, FlippedGeometryTurnsTheSublayersOver) {
  // A 10-high layer near the bottom of its superlayer's y-up space; a flipped superlayer puts it at the top.
  for (bool flipped : {false, true}) {
    SCOPED_TRACE(flipped);
    CALayerRef root = CALayer::layer();
    root->setFrame(QRectF(0, 0, 100, 100));
    root->setGeometryFlipped(flipped);
    root->addSublayer(filled(QRectF(0, 0, 100, 10), Qt::blue));
    QImage frame = blackFrame(100, 100);
    LayerRenderer_RenderOverImage(frame, root, 0.0);
    EXPECT_EQ(paintedRect(frame), flipped ? QRect(0, 0, 100, 10) : QRect(0, 90, 100, 10));
  }
}

TEST(LayerRenderer, PicturesStayUprightAndFollowTheirGravity) {
  // A picture whose top half is red and bottom half green.
  QImage picture(20, 10, QImage::Format_ARGB32_Premultiplied);
  picture.fill(Qt::green);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 20; ++x) picture.setPixelColor(x, y, Qt::red);
  struct Case {
    const char* gravity;
    bool flipped;
    QRect painted;
  };
  for (const Case& c : {Case{kCAGravityResize, false, {0, 0, 100, 100}}, Case{kCAGravityResize, true, {0, 0, 100, 100}},
                        Case{kCAGravityResizeAspect, true, {0, 25, 100, 50}}, Case{kCAGravityCenter, false, {40, 45, 20, 10}}}) {
    SCOPED_TRACE(c.gravity);
    CALayerRef root = CALayer::layer();
    root->setFrame(QRectF(0, 0, 100, 100));
    root->setGeometryFlipped(c.flipped);
    CALayerRef layer = CALayer::layer();
    layer->setFrame(QRectF(0, 0, 100, 100));
    layer->setGeometryFlipped(c.flipped);
    layer->setContents(picture);
    layer->setContentsGravity(QString::fromLatin1(c.gravity));
    root->addSublayer(layer);
    QImage frame = blackFrame(100, 100);
    LayerRenderer_RenderOverImage(frame, root, 0.0);
    EXPECT_EQ(paintedRect(frame), c.painted);
    EXPECT_EQ(frame.pixelColor(c.painted.center().x(), c.painted.top() + 1), QColor(Qt::red));
    EXPECT_EQ(frame.pixelColor(c.painted.center().x(), c.painted.bottom() - 1), QColor(Qt::green));
  }
}

TEST(LayerRenderer, KeyframeOpacityRunsOnlyInsideItsSpan) {
  CALayerRef root = CALayer::layer();
  root->setFrame(QRectF(0, 0, 10, 10));
  CALayerRef layer = filled(QRectF(0, 0, 10, 10), Qt::white);
  layer->setOpacity(0.0f);
  CAKeyframeAnimation fade = CAKeyframeAnimation::animationWithKeyPath(QStringLiteral("opacity"));
  fade.beginTime = 2.0;
  fade.duration = 10.0;
  fade.values = {0.0, 1.0, 1.0, 0.0};
  fade.keyTimes = {0.0, 0.01, 0.99, 1.0};
  layer->addAnimation(fade, QStringLiteral("fade"));
  root->addSublayer(layer);
  struct Case {
    double seconds;
    int grey;
  };
  // Before and after the span the layer's own opacity (0) holds.
  for (const Case& c : {Case{1.9, 0}, Case{2.0, 0}, Case{2.05, 128}, Case{7.0, 255}, Case{11.95, 128}, Case{12.0, 0}}) {
    SCOPED_TRACE(c.seconds);
    QImage frame = blackFrame(10, 10);
    EXPECT_EQ(LayerRenderer_DrawsAtTime(root, c.seconds), c.grey > 0);
    LayerRenderer_RenderOverImage(frame, root, c.seconds);
    EXPECT_NEAR(qRed(frame.pixel(5, 5)), c.grey, 2);
  }
  // At zero on the media time line.
  fade.beginTime = AVCoreAnimationBeginTimeAtZero;
  layer->addAnimation(fade, QStringLiteral("fade"));
  EXPECT_EQ(layer->animationKeys(), QStringList{QStringLiteral("fade")});
  EXPECT_FLOAT_EQ(layer->presentationOpacityAtTime(5.0), 1.0f);
}

TEST(LayerRenderer, HiddenClippedAndNonFiniteLayersDrawNothingOutsideTheirPlace) {
  CALayerRef root = CALayer::layer();
  root->setFrame(QRectF(0, 0, 100, 100));
  CALayerRef clip = CALayer::layer();
  clip->setFrame(QRectF(0, 0, 50, 50));
  clip->setMasksToBounds(true);
  clip->addSublayer(filled(QRectF(-100, -100, 300, 300), Qt::red));
  root->addSublayer(clip);
  CALayerRef hidden = filled(QRectF(50, 50, 50, 50), Qt::red);
  hidden->setHidden(true);
  root->addSublayer(hidden);
  CALayerRef broken = filled(QRectF(0, 0, qInf(), qQNaN()), Qt::red);
  root->addSublayer(broken);
  QImage frame = blackFrame(100, 100);
  LayerRenderer_RenderOverImage(frame, root, 0.0);
  EXPECT_EQ(paintedRect(frame), QRect(0, 50, 50, 50));
  clip->removeFromSuperlayer();
  EXPECT_FALSE(clip->superlayer());
  EXPECT_FALSE(LayerRenderer_DrawsAtTime(root, 0.0));
}
