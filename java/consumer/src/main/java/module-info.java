module com.velk.orvanta.consumer {
    requires com.velk.orvanta.content.client;
    requires java.desktop;
    exports com.velk.orvanta.consumer;
}
