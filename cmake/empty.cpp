// Placeholder so that a subsystem library without sources still links.
