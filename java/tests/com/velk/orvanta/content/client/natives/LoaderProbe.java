package com.velk.orvanta.content.client.natives;

/** Run in a fresh JVM by ExtractionTest: loads both libraries and says from where, or why not. */
public final class LoaderProbe {
    private LoaderProbe() {}

    public static void main(String[] args) {
        try {
            NativeLoader.load("Voxcap");
            NativeLoader.load("Deskcap");
            System.out.println("loaded from " + NativeLoader.extractedTo());
        } catch (UnsatisfiedLinkError refused) {
            System.out.println("refused: " + refused.getMessage());
            System.exit(3);
        }
    }
}
