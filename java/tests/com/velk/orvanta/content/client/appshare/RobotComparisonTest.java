package com.velk.orvanta.content.client.appshare;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import java.awt.Frame;
import java.awt.Graphics;
import java.awt.GraphicsEnvironment;
import java.awt.Rectangle;
import java.awt.Robot;
import java.awt.Toolkit;
import java.awt.image.BufferedImage;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Our grab and java.awt.Robot on the same X screen, pixel for pixel. Needs DISPLAY and the real
 * Linux backend (java/run-screen-test.sh); a window with a known picture is put on the screen first.
 */
class RobotComparisonTest {
    private static final Rectangle WINDOW = new Rectangle(50, 60, 320, 240);
    private static Frame frame;
    private static Robot robot;

    private static int patternPixel(int x, int y) {
        return (x * 7 & 0xFF) << 16 | (y * 5 & 0xFF) << 8 | ((x ^ y) & 0xFF);
    }

    @BeforeAll
    static void paintAWindow() throws Exception {
        Assumptions.assumeFalse(GraphicsEnvironment.isHeadless(), "needs an X screen (DISPLAY)");
        BufferedImage picture = new BufferedImage(WINDOW.width, WINDOW.height, BufferedImage.TYPE_INT_RGB);
        for (int y = 0; y < WINDOW.height; y++) {
            for (int x = 0; x < WINDOW.width; x++) picture.setRGB(x, y, patternPixel(x, y));
        }
        frame = new Frame() {
            private static final long serialVersionUID = 1L;

            @Override
            public void paint(Graphics g) {
                g.drawImage(picture, 0, 0, null);
            }
        };
        frame.setUndecorated(true);
        frame.setBounds(WINDOW);
        frame.setVisible(true);
        robot = new Robot();
        long deadline = System.nanoTime() + 20_000_000_000L;
        while (robot.getPixelColor(WINDOW.x + 3, WINDOW.y + 4).getRGB() != (0xFF000000 | patternPixel(3, 4))) {
            if (System.nanoTime() - deadline > 0) throw new AssertionError("the window never showed");
            robot.delay(20);
        }
    }

    @AfterAll
    static void closeTheWindow() {
        if (frame != null) frame.dispose();
    }

    private static int[] rgb(BufferedImage image) {
        return image.getRGB(0, 0, image.getWidth(), image.getHeight(), null, 0, image.getWidth());
    }

    private static void assertSameAsRobot(Rectangle area) {
        BufferedImage ours = ScreenCapture.grab(area);
        BufferedImage theirs = robot.createScreenCapture(area);
        assertEquals(BufferedImage.TYPE_INT_RGB, ours.getType());
        assertArrayEquals(rgb(theirs), rgb(ours), area.toString());
    }

    @Test
    void theWindowTheWholeScreenAndOnePixelMatchRobot() {
        assertSameAsRobot(WINDOW);
        assertSameAsRobot(new Rectangle(Toolkit.getDefaultToolkit().getScreenSize()));
        assertSameAsRobot(new Rectangle(WINDOW.x + 10, WINDOW.y + 10, 1, 1));
        assertSameAsRobot(new Rectangle(WINDOW.x - 5, WINDOW.y - 5, 17, 13));
    }
}
